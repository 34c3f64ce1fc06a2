#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tolvane {

// What the user can ask of the application from outside the panes: the tray's rows, the
// menu bar's items, the global shortcuts and, over D-Bus, other programs (a desktop's own
// shortcut bound to `tolvane --action start-recording`).
enum class AppAction {
  // Exported over D-Bus (org.freedesktop.Application.ActivateAction) and on the command line.
  startRecording,
  stopRecording,
  togglePause,
  toggleDrawing,
  showRecord,
  showLibrary,
  showLocal,
  checkForUpdates,
  signIn,
  signOut,
  quit,
  // The menus' own.
  cancelSignIn,
  showMainWindow,
  about,
  openWebLibrary,
  openVaultFolder,
  openHelp,
  toggleOpenAtLogin,
  copyLastLink,
};

// The action's name: "start-recording", "show-library", "open-at-login"…
QString appActionName(AppAction action);
// The action named `name`; none for an unknown name.
std::optional<AppAction> appActionFromName(const QString& name);
// Whether other programs may run it (the first group above).
bool isExportedAction(AppAction action);
// The exported actions' names, in declaration order (for ListActions and --help).
QStringList exportedActionNames();

}  // namespace tolvane
