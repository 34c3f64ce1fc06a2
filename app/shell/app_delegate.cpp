#include "app/shell/app_delegate.h"

#include <QCoreApplication>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSocketNotifier>
#include <QThread>
#include <utility>

#include "app/core/app_model.h"
#include "app/overlays/overlay_controller.h"
#include "app/shell/application_service.h"
#include "app/shell/desktop_services_opener.h"
#include "app/shell/global_shortcuts.h"
#include "app/shell/qt_clipboard.h"
#include "app/shell/quit_coordinator.h"
#include "app/shell/shortcut_notice.h"
#include "app/shell/status_item_controller.h"
#include "app/shell/updater_controller.h"
#include "app/shell/x11_startup_notification.h"
#include "app/ui/main_window_controller.h"
#include "app/ui/thumbnail_image_provider.h"
#include "kit/base/signal_watcher.h"

namespace tolvane {

AppDelegate::AppDelegate(SignalWatcher& signalWatcher, QObject* parent)
    : QObject(parent), signals_(signalWatcher) {}

AppDelegate::~AppDelegate() {
  // The watcher first: its last wake-up must find nothing to drive.
  if (phaseWatcher_) phaseWatcher_->stop();
  phaseWatcher_.reset();
  updater_.reset();
  service_.reset();
  shortcuts_.reset();
  signalNotifier_.reset();
  quit_.reset();
  statusItem_.reset();
  mainWindow_.reset();
  overlays_.reset();
  engine_.reset();
  actions_.reset();
  model_.reset();
}

void AppDelegate::launch() {
  installSignalHandlers();
  installShortcuts();

  // Everything below belongs to the GUI thread, where the launch runs.
  Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
  AppModel::Settings settings;
  settings.clipboard = std::make_shared<QtClipboard>();
  settings.opener = std::make_shared<DesktopServicesOpener>();
  model_ = std::make_unique<AppModel>(std::move(settings));
  if (!unavailableShortcuts_.isEmpty()) model_->setShortcutNotice(shortcutNoticeText(unavailableShortcuts_));
  quit_ = std::make_unique<QuitCoordinator>(
      model_->clock(), QuitCoordinator::Hooks{[this] { return model_->recording().phase(); },
                                              [this] { model_->recording().stopRecording(); },
                                              [] { QCoreApplication::quit(); }});
  // Whatever way the event loop ends, a recording still running is cut short and left
  // for recovery rather than lost with the process.
  connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &AppDelegate::emergencyStop);

  installInterface();
  registerOnSessionBus();

  bootstrap_ = bootstrap();  // not awaited: the window comes up at once

  mainWindow_->show();
  log_.info("launched; the main window shows the {} pane", model_->mainPane().toStdString());
}

void AppDelegate::runActionWhenReady(const QString& name) {
  if (!bootstrapped_) {
    pendingActions_.push_back(name);
    return;
  }
  runAction(name);
}

QCoro::Task<> AppDelegate::bootstrap() {
  QPointer<AppDelegate> self(this);
  auto booting = model_->bootstrap();
  co_await booting;
  // The teardown empties the router before the model; a bootstrap ended by it runs nothing.
  if (!self || !self->actions_) co_return;
  self->bootstrapped_ = true;
  if (self->updater_) self->updater_->start();
  const std::vector<QString> names = std::exchange(self->pendingActions_, {});
  for (const QString& name : names) self->runAction(name);
}

void AppDelegate::runAction(const QString& name) {
  if (!actions_ || !actions_->trigger(name)) log_.warning("no action named \"{}\"", name.toStdString());
}

void AppDelegate::installSignalHandlers() {
  // The signals are blocked in every thread and arrive through the watcher's descriptor,
  // so the handling runs here in the event loop, never inside a signal handler.
  signalNotifier_ = std::make_unique<QSocketNotifier>(signals_.fd(), QSocketNotifier::Read);
  connect(signalNotifier_.get(), &QSocketNotifier::activated, this, &AppDelegate::signalArrived);
}

void AppDelegate::signalArrived() {
  while (const auto signal = signals_.readPending()) {
    log_.info("received signal {} — closing the recording", *signal);
    emergencyStop();
    QCoreApplication::exit(0);
  }
}

void AppDelegate::installShortcuts() {
  shortcuts_ = std::make_unique<GlobalShortcuts>();
  connect(shortcuts_.get(), &GlobalShortcuts::pressed, this, &AppDelegate::shortcutPressed);
  // The model does not exist yet; the launch hands it the notice.
  unavailableShortcuts_ = shortcuts_->install();
}

void AppDelegate::shortcutPressed(ShortcutKey key) {
  if (!model_) return;
  auto& recording = model_->recording();
  switch (shortcutCommand(key, recording.phase())) {
    case ShortcutCommand::startCountdown:
      recording.startCountdown();
      return;
    case ShortcutCommand::stopRecording:
      recording.stopRecording();
      return;
    case ShortcutCommand::toggleDrawing:
      model_->annotations().setDrawing(!model_->annotations().isDrawing());
      return;
    case ShortcutCommand::none:
      return;
  }
}

void AppDelegate::installInterface() {
  actions_ = std::make_unique<ActionRouter>(*model_, *this, autostart_);
  engine_ = std::make_unique<QQmlEngine>();
  engine_->addImportPath(QStringLiteral("qrc:/qt/qml"));
  engine_->rootContext()->setContextProperty(QStringLiteral("model"), model_.get());
  engine_->rootContext()->setContextProperty(QStringLiteral("actions"), actions_.get());
  engine_->addImageProvider(QStringLiteral("thumbnail"),
                            new ThumbnailImageProvider(model_->services().vault(), model_->services().http()));

  overlays_ = std::make_unique<OverlayController>(*model_, *engine_);
  mainWindow_ = std::make_unique<MainWindowController>(*model_, *engine_);
  statusItem_ = std::make_unique<StatusItemController>(*model_, *actions_, *engine_);
  // The menu bar is part of the main window.
  // Updates: the model's release check feeds the record pane's banner; the updater checks
  // the signed feed, downloads and installs.
  updater_ = std::make_unique<UpdaterController>(*model_, UpdaterController::systemBackend(*model_),
                                                 [this] { requestQuit(); });
  connect(updater_.get(), &UpdaterController::canCheckForUpdatesChanged, actions_.get(),
          &ActionRouter::hostStateChanged);
  log_.info("updates: checked at launch, daily and on request");

  connect(model_.get(), &AppModel::showMainWindow, this, [this](const QString& pane) { showMainWindow(pane); });
  connect(statusItem_.get(), &StatusItemController::availabilityChanged, this, [this](bool available) {
    // Without a tray the main window and the floating controls are how a recording stops.
    if (available) {
      log_.info("the tray item is shown");
      return;
    }
    log_.info("no tray on this desktop; the main window stays available");
    // A tray gone mid-recording took the way to Stop with it: the window goes back into
    // the taskbar, minimised.
    if (!model_->recording().phase().is(RecordingPhase::Kind::idle)) {
      mainWindow_->setHiddenFromTaskbar(false);
      hideMainWindow();
    }
  });

  phaseWatcher_ = std::make_unique<PhaseWatcher>(*model_, *this);
  phaseWatcher_->start();
}

void AppDelegate::registerOnSessionBus() {
  service_ = std::make_unique<ApplicationService>(*model_, *actions_, [this] { showMainWindow(std::nullopt); });
  service_->setActionRunner([this](AppAction action) { runActionWhenReady(appActionName(action)); });
  service_->setLaunchFeedback([this](const QByteArray& startupId) {
    // A window the call showed is raised with the time of the click that launched it, which
    // the window manager trusts more than our own last input; then the launcher's busy
    // feedback ends.
    if (QQuickWindow* window = mainWindow_ ? mainWindow_->window() : nullptr) x11_startup::activate(*window, startupId);
    x11_startup::endFeedback(startupId);
  });
  if (service_->registerOnSessionBus() != ApplicationService::Registration::owned) {
    log_.warning("Tolvane runs without its name on the session bus: `tolvane --action` and the desktop's "
                 "launcher can't reach this instance");
  }
}

void AppDelegate::emergencyStop() {
  if (!model_ || emergencyStopped_) return;
  emergencyStopped_ = true;
  model_->recording().emergencyStop();
}

// MARK: ActionRouter::Host

void AppDelegate::showMainWindow(std::optional<QString> pane) {
  if (!mainWindow_) return;
  // Minimised during a recording without a tray (see hideMainWindow): bring it back first.
  QQuickWindow* window = mainWindow_->window();
  if (window != nullptr && (window->windowStates() & Qt::WindowMinimized) != 0) window->showNormal();
  mainWindow_->show(std::move(pane));
}

void AppDelegate::requestQuit() {
  if (!quit_) {
    QCoreApplication::quit();
    return;
  }
  quit_->requestQuit();
}

void AppDelegate::showAbout() {
  if (mainWindow_) mainWindow_->showAbout();
}

void AppDelegate::checkForUpdates() {
  if (!model_) return;
  log_.info("checking for updates at the user's request");
  updateCheck_ = model_->checkForUpdate();
  if (updater_) updater_->checkForUpdates();
}

bool AppDelegate::canCheckForUpdates() const { return !updater_ || updater_->canCheckForUpdates(); }

// MARK: PhaseWatcher::View

void AppDelegate::showCountdown(int seconds) { overlays_->showCountdown(seconds); }
void AppDelegate::dropCountdown() { overlays_->dropCountdown(); }
void AppDelegate::showPill() { overlays_->showPill(); }
void AppDelegate::dropPill() { overlays_->dropPill(); }
void AppDelegate::showBubble() { overlays_->showBubble(); }
void AppDelegate::hideBubble() { overlays_->hideBubble(); }
void AppDelegate::showAnnotations() { overlays_->showAnnotations(); }
void AppDelegate::hideAnnotations() { overlays_->hideAnnotations(); }
// Without a tray the taskbar entry is the one sure way back to "Stop recording", so the
// window is minimised (out of the picture, still in the taskbar) instead of hidden.
void AppDelegate::hideMainWindow() {
  if (!statusItem_->isAvailable() && mainWindow_->window() != nullptr) {
    mainWindow_->window()->showMinimized();
    return;
  }
  mainWindow_->hide();
}
void AppDelegate::keepOutOfTaskbar() {
  if (statusItem_->isAvailable()) mainWindow_->setHiddenFromTaskbar(true);
}
void AppDelegate::refreshStatusItem() { statusItem_->refresh(); }

}  // namespace tolvane
