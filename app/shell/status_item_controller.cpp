#include "app/shell/status_item_controller.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/core/app_model.h"
#include "app/shell/action_router.h"
#include "app/shell/popover_placement.h"
#include "app/shell/tray_icon_painter.h"
#include "kit/base/format.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QUrl kPopoverSource(QStringLiteral("qrc:/qt/qml/Tolvane/Ui/MenuContent.qml"));

// A tray host can appear without a bus signal we could watch (an XEmbed tray starting,
// a watcher whose host registers later); this slow poll catches those.
constexpr int kHostPollMs = 5000;
// A click on the tray icon while the popover is open first takes the focus from the
// popover (which closes it) and then arrives as the icon's own click, which must not
// open it again.
constexpr qint64 kReopenGuardMs = 300;

// Whether an XEmbed tray runs on this display (defined at the end of the file, after
// Xlib's macros can no longer clash with Qt's names).
bool xembedTrayPresent();

}  // namespace

struct StatusItemController::Impl {
  Impl(StatusItemController& controller, AppModel& appModel, ActionRouter& router, QQmlEngine& qmlEngine)
      : owner(controller), model(appModel), actions(router), engine(qmlEngine) {}

  void buildMenu();
  void updateMenu();
  QAction* addRow(AppAction action);
  void setRow(QAction* row, AppAction action, const QString& text);

  void checkForHost();
  void hostChecked(bool statusNotifierHost);
  void setAvailable(bool value);
  void createTray();
  void trayActivated(QSystemTrayIcon::ActivationReason reason);

  bool ensurePopover();
  void placePopover();
  void closePopover();

  StatusItemController& owner;
  AppModel& model;
  ActionRouter& actions;
  QQmlEngine& engine;
  Logger log{"tray"};

  std::unique_ptr<QMenu> menu;
  QAction* startStopRow = nullptr;
  QAction* signInRow = nullptr;

  // Made only once a host exists (see checkForHost).
  std::unique_ptr<QSystemTrayIcon> tray;
  bool available = false;
  bool checkPending = false;
  QDBusServiceWatcher* watcher = nullptr;
  QTimer* poll = nullptr;

  // What the tray shows now, so a refresh writes only a change.
  std::optional<bool> shownRecording;
  QString shownToolTip;
  QIcon idleIcon = TrayIconPainter::icon(false);
  QIcon recordingIcon = TrayIconPainter::icon(true);

  std::unique_ptr<QQuickView> popover;
  bool popoverFailed = false;
  QElapsedTimer closedByFocusLoss;
};

StatusItemController::StatusItemController(AppModel& model, ActionRouter& actions, QQmlEngine& engine,
                                           QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>(*this, model, actions, engine)) {
  impl_->buildMenu();
  connect(&actions, &ActionRouter::enabledChanged, this, [this] { impl_->updateMenu(); });

  // Qt decides once per process whether its tray speaks StatusNotifierItem, the first
  // time a tray icon is made or asked about. Asking before a host exists would pin it to
  // XEmbed for good, so nothing here touches QSystemTrayIcon until a host is found.
  impl_->watcher = new QDBusServiceWatcher(kWatcherService, QDBusConnection::sessionBus(),
                                           QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(impl_->watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { impl_->checkForHost(); });
  impl_->poll = new QTimer(this);
  impl_->poll->setInterval(kHostPollMs);
  connect(impl_->poll, &QTimer::timeout, this, [this] { impl_->checkForHost(); });
  impl_->poll->start();
  impl_->checkForHost();
}

StatusItemController::~StatusItemController() = default;

bool StatusItemController::isAvailable() const { return impl_->available; }

void StatusItemController::refresh() {
  const RecordingPhase& phase = impl_->model.recording().phase();
  const bool recording = phase.isCapturing();
  QString toolTip = QStringLiteral("Tolvane");
  if (recording) toolTip += QStringLiteral(" \u2014 ") + QString::fromStdString(formatDuration(impl_->model.recording().elapsed()));

  QSystemTrayIcon* tray = impl_->tray.get();
  if (!tray) return;
  if (impl_->shownRecording != recording) {
    tray->setIcon(recording ? impl_->recordingIcon : impl_->idleIcon);
    impl_->shownRecording = recording;
  }
  if (impl_->shownToolTip != toolTip) {
    tray->setToolTip(toolTip);
    impl_->shownToolTip = toolTip;
  }
}

void StatusItemController::toggle() {
  Impl& d = *impl_;
  if (d.popover && d.popover->isVisible()) {
    d.closePopover();
    return;
  }
  if (d.closedByFocusLoss.isValid() && d.closedByFocusLoss.elapsed() < kReopenGuardMs) return;
  if (!d.ensurePopover()) return;
  d.placePopover();
  d.popover->show();
  d.popover->raise();
  d.popover->requestActivate();
}

// The context menu: the popover's rows, for a right click.
void StatusItemController::Impl::buildMenu() {
  menu = std::make_unique<QMenu>();
  startStopRow = addRow(AppAction::startRecording);
  menu->addSeparator();
  setRow(addRow(AppAction::showLibrary), AppAction::showLibrary, QStringLiteral("My recordings"));
  setRow(addRow(AppAction::showLocal), AppAction::showLocal, QStringLiteral("On this computer"));
  setRow(addRow(AppAction::showMainWindow), AppAction::showMainWindow, QStringLiteral("Open Tolvane"));
  menu->addSeparator();
  signInRow = addRow(AppAction::signIn);
  menu->addSeparator();
  setRow(addRow(AppAction::quit), AppAction::quit, QStringLiteral("Quit Tolvane"));
  QObject::connect(menu.get(), &QMenu::triggered, &owner, [this](QAction* row) {
    actions.trigger(static_cast<AppAction>(row->data().toInt()));
  });
  updateMenu();
}

QAction* StatusItemController::Impl::addRow(AppAction action) {
  QAction* row = menu->addAction(QString());
  row->setData(static_cast<int>(action));
  return row;
}

void StatusItemController::Impl::setRow(QAction* row, AppAction action, const QString& text) {
  row->setData(static_cast<int>(action));
  row->setText(text);
  row->setEnabled(actions.isEnabled(action));
}

// The rows whose words follow the state, and every row's availability.
void StatusItemController::Impl::updateMenu() {
  if (model.recording().phase().isCapturing()) {
    setRow(startStopRow, AppAction::stopRecording, QStringLiteral("Stop recording"));
  } else {
    setRow(startStopRow, AppAction::startRecording, QStringLiteral("Start recording"));
  }
  switch (model.account().signInPhase()) {
    case AccountModel::SignInPhase::SignedIn:
      setRow(signInRow, AppAction::signOut, QStringLiteral("Sign out"));
      break;
    case AccountModel::SignInPhase::WaitingForBrowser:
      setRow(signInRow, AppAction::cancelSignIn, QStringLiteral("Cancel sign-in"));
      break;
    case AccountModel::SignInPhase::SignedOut:
      setRow(signInRow, AppAction::signIn, QStringLiteral("Sign in with your browser"));
      break;
  }
  for (QAction* row : menu->actions()) {
    if (!row->isSeparator()) row->setEnabled(actions.isEnabled(static_cast<AppAction>(row->data().toInt())));
  }
}

// Asks the bus, without waiting on it, whether a StatusNotifierItem host is there; the
// answer (or the error of a missing watcher) arrives in hostChecked.
void StatusItemController::Impl::checkForHost() {
  if (checkPending) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    hostChecked(false);
    return;
  }
  QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
  // Only a panel that runs counts; asking must not start a watcher the bus could activate.
  get.setAutoStartService(false);
  checkPending = true;
  auto* call = new QDBusPendingCallWatcher(bus.asyncCall(get), &owner);
  QObject::connect(call, &QDBusPendingCallWatcher::finished, &owner, [this](QDBusPendingCallWatcher* finished) {
    finished->deleteLater();
    checkPending = false;
    const QDBusPendingReply<QDBusVariant> reply = *finished;
    hostChecked(!reply.isError() && reply.value().variant().toBool());
  });
}

void StatusItemController::Impl::hostChecked(bool statusNotifierHost) {
  const bool host = statusNotifierHost || xembedTrayPresent();
  if (host && !tray) createTray();
  if (tray) {
    // Showing the icon again registers it with a host that came back (a restarted panel).
    if (host && !tray->isVisible()) tray->show();
    if (!host && tray->isVisible()) tray->hide();
  }
  setAvailable(host);
}

void StatusItemController::Impl::setAvailable(bool value) {
  if (available == value) return;
  available = value;
  if (value) {
    log.info("The tray item is shown.");
  } else {
    log.info("No tray is available; the main window and the floating controls stay the way to stop.");
  }
  emit owner.availabilityChanged(value);
}

void StatusItemController::Impl::createTray() {
  tray = std::make_unique<QSystemTrayIcon>();
  tray->setContextMenu(menu.get());
  QObject::connect(tray.get(), &QSystemTrayIcon::activated, &owner,
                   [this](QSystemTrayIcon::ActivationReason reason) { trayActivated(reason); });
  shownRecording.reset();
  shownToolTip.clear();
  owner.refresh();
}

void StatusItemController::Impl::trayActivated(QSystemTrayIcon::ActivationReason reason) {
  // A right click opens the context menu by itself; only the plain click is ours.
  if (reason == QSystemTrayIcon::Trigger) owner.toggle();
}

bool StatusItemController::Impl::ensurePopover() {
  if (popover) return true;
  if (popoverFailed) return false;
  auto view = std::make_unique<QQuickView>(&engine, nullptr);
  view->setObjectName(QStringLiteral("tolvanePopover"));
  view->setTitle(QStringLiteral("Tolvane"));
  view->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  view->setResizeMode(QQuickView::SizeViewToRootObject);
  view->setSource(kPopoverSource);
  if (view->status() != QQuickView::Ready || !view->rootObject()) {
    for (const QQmlError& error : view->errors()) log.error("The tray popover failed to load: {}", error.toString().toStdString());
    popoverFailed = true;
    return false;
  }
  QQuickView* raw = view.get();
  // The popover is transient: it goes when the user turns to something else.
  QObject::connect(raw, &QWindow::activeChanged, &owner, [this, raw] {
    if (raw->isActive() || !raw->isVisible()) return;
    closePopover();
    closedByFocusLoss.restart();
  });
  // Banners come and go while it is open; it keeps clear of the panel as it grows.
  QObject::connect(raw, &QWindow::heightChanged, &owner, [this, raw] {
    if (raw->isVisible()) placePopover();
  });
  struct EscapeFilter final : QObject {
    explicit EscapeFilter(Impl& target) : impl(target) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
      impl.closePopover();
      return true;
    }
    Impl& impl;
  };
  raw->installEventFilter(new EscapeFilter(*this));
  popover = std::move(view);
  return true;
}

void StatusItemController::Impl::placePopover() {
  const QRect icon = tray ? tray->geometry() : QRect();
  const QPoint pointer = QCursor::pos();
  QScreen* screen = QGuiApplication::screenAt(icon.isEmpty() ? pointer : icon.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  popover->setPosition(popoverPosition(icon, pointer, popover->size(), screen->availableGeometry()));
}

void StatusItemController::Impl::closePopover() {
  if (popover) popover->hide();
}

}  // namespace tolvane

#include <X11/Xlib.h>

namespace tolvane {
namespace {

// An XEmbed tray (the freedesktop system tray protocol) is there when its manager owns
// the _NET_SYSTEM_TRAY_S<screen> selection.
bool xembedTrayPresent() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->display()) return false;
  Display* display = x11->display();
  const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(XDefaultScreen(display));
  const Atom selection = XInternAtom(display, name.constData(), False);
  return selection != None && XGetSelectionOwner(display, selection) != None;
}

}  // namespace
}  // namespace tolvane
