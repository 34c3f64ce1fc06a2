#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include <qcorotask.h>

#include "app/shell/action_router.h"
#include "app/shell/autostart_entry.h"
#include "app/shell/phase_watcher.h"
#include "app/shell/shortcut_command.h"
#include "kit/base/log.h"

class QQmlEngine;
class QSocketNotifier;

namespace tolvane {

class AppModel;
class ApplicationService;
class GlobalShortcuts;
class MainWindowController;
class OverlayController;
class QuitCoordinator;
class SignalWatcher;
class StatusItemController;
class UpdaterController;

// The application's spine, from launch to exit, on the GUI thread. It installs the
// termination signals and the global shortcuts, takes the one model, builds the
// interface around it (panels, main window, tray item, phase watcher), takes the
// application's name on the session bus, starts the model's bootstrap without waiting
// for it and shows the main window. At the end it makes sure a recording under way is
// closed: a quit gives the file a grace period, a termination signal or the way out stops
// it at once and leaves it for recovery.
class AppDelegate final : public QObject, public ActionRouter::Host, public PhaseWatcher::View {
  Q_OBJECT

 public:
  // `signalWatcher` is created by main() before the application object, so that every thread
  // inherits its blocked mask; it must outlive the delegate.
  explicit AppDelegate(SignalWatcher& signalWatcher, QObject* parent = nullptr);
  ~AppDelegate() override;

  // The launch sequence; call once, before the event loop runs.
  void launch();
  // Runs an action by its name (`tolvane --action NAME`) once the bootstrap has listed
  // the sources and read the session, so that "start-recording" finds a screen to record.
  void runActionWhenReady(const QString& name);

  // ActionRouter::Host
  void showMainWindow(std::optional<QString> pane) override;
  void requestQuit() override;
  void showAbout() override;
  void checkForUpdates() override;
  bool canCheckForUpdates() const override;

  // PhaseWatcher::View
  void showCountdown(int seconds) override;
  void dropCountdown() override;
  void showPill() override;
  void dropPill() override;
  void showBubble() override;
  void hideBubble() override;
  void showAnnotations() override;
  void hideAnnotations() override;
  void hideMainWindow() override;
  void keepOutOfTaskbar() override;
  void refreshStatusItem() override;

 private:
  void installSignalHandlers();
  void installShortcuts();
  void installInterface();
  void registerOnSessionBus();
  void signalArrived();
  void shortcutPressed(ShortcutKey key);
  void emergencyStop();
  QCoro::Task<> bootstrap();
  void runAction(const QString& name);

  // The launch fills these in this order; the destructor empties them in reverse, the
  // views before the engine they live in, the engine before the model it shows.
  std::unique_ptr<AppModel> model_;
  std::unique_ptr<ActionRouter> actions_;
  std::unique_ptr<QQmlEngine> engine_;
  std::unique_ptr<OverlayController> overlays_;
  std::unique_ptr<MainWindowController> mainWindow_;
  std::unique_ptr<StatusItemController> statusItem_;
  std::unique_ptr<PhaseWatcher> phaseWatcher_;
  std::unique_ptr<GlobalShortcuts> shortcuts_;
  QStringList unavailableShortcuts_;
  SignalWatcher& signals_;
  std::unique_ptr<QSocketNotifier> signalNotifier_;
  std::unique_ptr<ApplicationService> service_;
  std::unique_ptr<QuitCoordinator> quit_;
  std::unique_ptr<UpdaterController> updater_;
  AutostartEntry autostart_;
  // Held so that they are plainly owned; each ends on its own when the model is gone.
  std::optional<QCoro::Task<>> bootstrap_;
  std::optional<QCoro::Task<>> updateCheck_;
  bool bootstrapped_ = false;
  std::vector<QString> pendingActions_;  // asked for before the bootstrap ended, in order
  bool emergencyStopped_ = false;
  Logger log_{"lifecycle"};
};

}  // namespace tolvane
