#include "app/ui/main_window_controller.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>
#include <QSettings>

#include "app/core/app_model.h"
#include "app/ui/scaled_video_item.h"
#include "app/ui/video_frame_counter.h"
#include "app/ui/x11_skip_taskbar.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

constexpr auto kMainWindowURL = "qrc:/qt/qml/Tolvane/Ui/MainWindow.qml";
constexpr auto kAboutWindowURL = "qrc:/qt/qml/Tolvane/Ui/AboutWindow.qml";
constexpr int kInitialWidth = 940;
constexpr int kInitialHeight = 640;

const Logger& uiLog() {
  static const Logger logger("ui");
  return logger;
}

QSettings windowSettings() {
  return QSettings(QStringLiteral("com.tolvanelabs.Tolvane"), QStringLiteral("Tolvane"));
}

const QString kGeometryKey = QStringLiteral("TolvaneMainWindow/geometry");

// A remembered frame is used only while most of it can still be seen: screens come and
// go, and a window restored onto a monitor that is no longer there cannot be reached.
bool fitsAScreen(const QRect& frame) {
  if (!frame.isValid() || frame.width() < 200 || frame.height() < 150) return false;
  const QScreen* screen = QGuiApplication::screenAt(frame.center());
  return screen && screen->availableGeometry().intersects(frame);
}

// The C++ types the panes make themselves (imported as Tolvane.UiItems).
void registerItems() {
  static const bool registered = [] {
    qmlRegisterType<ScaledVideoItem>("Tolvane.UiItems", 1, 0, "ScaledVideo");
    qmlRegisterType<VideoFrameCounter>("Tolvane.UiItems", 1, 0, "VideoFrameCounter");
    return true;
  }();
  (void)registered;
}

}  // namespace

MainWindowController::MainWindowController(AppModel& model, QQmlEngine& engine, QObject* parent)
    : QObject(parent), model_(model), engine_(engine), links_(model) {
  registerItems();
  engine_.rootContext()->setContextProperty(QStringLiteral("format"), &format_);
  engine_.rootContext()->setContextProperty(QStringLiteral("links"), &links_);
}

MainWindowController::~MainWindowController() {
  if (window_) {
    saveGeometry();
    delete window_.data();
  }
  delete about_.data();
}

QRect MainWindowController::defaultGeometry() {
  QRect frame(0, 0, kInitialWidth, kInitialHeight);
  if (const QScreen* primary = QGuiApplication::primaryScreen()) {
    frame.moveCenter(primary->availableGeometry().center());
  }
  return frame;
}

void MainWindowController::show(std::optional<QString> pane) {
  if (pane && *pane != model_.mainPane()) model_.selectPane(*pane);
  ensureWindow();
  if (!window_) return;
  setHiddenFromTaskbar(false);
  if (window_->windowStates() & Qt::WindowMinimized) {
    window_->showNormal();
  } else {
    window_->show();
  }
  window_->raise();
  window_->requestActivate();
}

void MainWindowController::hide() {
  if (!window_ || !window_->isVisible()) return;
  saveGeometry();
  window_->hide();
}

void MainWindowController::setHiddenFromTaskbar(bool hidden) {
  hiddenFromTaskbar_ = hidden;
  if (!window_) return;  // applied when the window is made
  setSkipTaskbar(*window_, hidden);
}

void MainWindowController::showAbout() {
  if (!about_) {
    about_ = createWindow(kAboutWindowURL);
    if (!about_) return;
    QRect frame(QPoint(), about_->size());
    const QRect around = window_ && window_->isVisible() ? window_->geometry() : defaultGeometry();
    frame.moveCenter(around.center());
    about_->setPosition(frame.topLeft());
  }
  about_->show();
  about_->raise();
  about_->requestActivate();
}

QQuickWindow* MainWindowController::createWindow(const char* url) {
  QQmlComponent component(&engine_, QUrl(QString::fromLatin1(url)));
  QObject* object = component.create();
  auto* window = qobject_cast<QQuickWindow*>(object);
  if (!window) {
    uiLog().error("the window {} could not be made: {}", url, component.errorString().toStdString());
    delete object;
    return nullptr;
  }
  // The controller decides when the window goes; QML's garbage collector must not.
  QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
  return window;
}

void MainWindowController::ensureWindow() {
  if (window_) return;
  window_ = createWindow(kMainWindowURL);
  if (!window_) return;
  window_->setTitle(QStringLiteral("Tolvane"));
  restoreGeometry();
  window_->installEventFilter(this);
  connect(window_, &QWindow::visibleChanged, this, [this](bool visible) {
    if (!visible) saveGeometry();
  });
  if (hiddenFromTaskbar_) setSkipTaskbar(*window_, true);
}

void MainWindowController::restoreGeometry() {
  const QRect remembered = windowSettings().value(kGeometryKey).toRect();
  window_->setGeometry(fitsAScreen(remembered) ? remembered : defaultGeometry());
}

void MainWindowController::saveGeometry() const {
  if (!window_) return;
  QSettings settings = windowSettings();
  settings.setValue(kGeometryKey, window_->geometry());
}

bool MainWindowController::isRecording() const {
  const auto phase = model_.recording().phaseKind();
  return phase == RecordingController::Phase::recording || phase == RecordingController::Phase::paused;
}

bool MainWindowController::eventFilter(QObject* watched, QEvent* event) {
  // The user closed the window (the view only hides it). Out of a recording Tolvane goes
  // back to being an ordinary application in the taskbar the next time it is shown.
  if (watched == window_ && event->type() == QEvent::Close) {
    saveGeometry();
    if (!isRecording()) setHiddenFromTaskbar(false);
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tolvane
