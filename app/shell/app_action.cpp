#include "app/shell/app_action.h"

#include <array>
#include <utility>

namespace tolvane {
namespace {

constexpr std::array<std::pair<AppAction, const char*>, 19> kNames = {{
    {AppAction::startRecording, "start-recording"},
    {AppAction::stopRecording, "stop-recording"},
    {AppAction::togglePause, "toggle-pause"},
    {AppAction::toggleDrawing, "toggle-drawing"},
    {AppAction::showRecord, "show-record"},
    {AppAction::showLibrary, "show-library"},
    {AppAction::showLocal, "show-local"},
    {AppAction::checkForUpdates, "check-for-updates"},
    {AppAction::signIn, "sign-in"},
    {AppAction::signOut, "sign-out"},
    {AppAction::quit, "quit"},
    {AppAction::cancelSignIn, "cancel-sign-in"},
    {AppAction::showMainWindow, "show-main-window"},
    {AppAction::about, "about"},
    {AppAction::openWebLibrary, "open-web-library"},
    {AppAction::openVaultFolder, "open-vault-folder"},
    {AppAction::openHelp, "open-help"},
    {AppAction::toggleOpenAtLogin, "open-at-login"},
    {AppAction::copyLastLink, "copy-last-link"},
}};

}  // namespace

QString appActionName(AppAction action) {
  for (const auto& [candidate, name] : kNames) {
    if (candidate == action) return QString::fromLatin1(name);
  }
  return {};
}

std::optional<AppAction> appActionFromName(const QString& name) {
  for (const auto& [action, candidate] : kNames) {
    if (name == QLatin1String(candidate)) return action;
  }
  return std::nullopt;
}

bool isExportedAction(AppAction action) {
  return static_cast<int>(action) <= static_cast<int>(AppAction::quit);
}

QStringList exportedActionNames() {
  QStringList names;
  for (const auto& [action, name] : kNames) {
    if (isExportedAction(action)) names << QString::fromLatin1(name);
  }
  return names;
}

}  // namespace tolvane
