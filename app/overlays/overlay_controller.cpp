#include "app/overlays/overlay_controller.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSurfaceFormat>
#include <QUrl>
#include <vector>

#include "app/core/app_model.h"
#include "app/overlays/annotation_canvas_item.h"
#include "app/overlays/camera_frame_store.h"
#include "app/overlays/camera_preview_item.h"
#include "app/overlays/canvas_area_publisher.h"
#include "app/overlays/overlay_geometry.h"
#include "app/overlays/x11_panel_stacking.h"
#include "app/overlays/x11_panel_support.h"
#include "app/ui/ui_format.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

const Logger& overlayLog() {
  static const Logger logger("app");
  return logger;
}

// Sizes a panel has before its content has told it better.
constexpr QSize kPillSize(240, 44);
constexpr QSize kBubbleSize(148, 148);
constexpr QSize kToolbarSize(520, 44);
// The countdown's circle.
constexpr int kCountdownSide = 168;

void registerItems() {
  static const bool registered = [] {
    qmlRegisterType<AnnotationCanvasItem>("Tolvane.OverlayItems", 1, 0, "AnnotationSurface");
    qmlRegisterType<CameraPreviewItem>("Tolvane.OverlayItems", 1, 0, "CameraSurface");
    return true;
  }();
  (void)registered;
}

bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

QScreen* primaryScreen() { return QGuiApplication::primaryScreen(); }

}  // namespace

void OverlayController::PanelDeleter::operator()(QQuickWindow* window) const {
  // Panels are dropped by the phase watcher's pass, never from inside their own event
  // handling, so they can go at once (and before the context their bindings use).
  delete window;
}

OverlayController::OverlayController(AppModel& model, QQmlEngine& engine, QObject* parent)
    : QObject(parent),
      model_(model),
      engine_(engine),
      context_(std::make_unique<QQmlContext>(engine.rootContext())),
      format_(std::make_unique<UiFormat>()),
      frames_(std::make_unique<CameraFrameStore>()) {
  registerItems();
  context_->setContextProperty(QStringLiteral("format"), format_.get());
  context_->setContextProperty(QStringLiteral("cameraFrames"), frames_.get());
  engine.rootContext()->setContextProperty(QStringLiteral("overlays"), this);
  model_.recording().setCameraPreviewSink(frames_->sink());

  compositing_ = onX11() && x11_panel_support::hasCompositingManager();
  if (onX11()) {
    // Lowest first: the canvas under the pill and the bubble, which stay usable while
    // drawing; the toolbar over them; the countdown over everything.
    stacking_ = std::make_unique<X11PanelStacking>([this] {
      return std::vector<QWindow*>{canvas_.get(), bubble_.get(), pill_.get(), toolbar_.get(), countdown_.get()};
    });
  }
  if (onX11() && !compositing_) {
    compositingNotice_ = QStringLiteral(
        "No compositing manager runs on this desktop, so Tolvane's floating controls show in display recordings.");
    overlayLog().warning("no compositing manager: the floating controls have no transparency and show in display "
                  "recordings");
  }
}

OverlayController::~OverlayController() {
  for (Panel* panel : {&pill_, &bubble_, &countdown_, &canvas_, &toolbar_}) panel->reset();
  model_.recording().setCameraPreviewSink(nullptr);
}

QScreen* OverlayController::targetScreen() const {
  const QList<QScreen*> screens = QGuiApplication::screens();
  std::vector<overlay_geometry::ScreenSlot> screenSlots;
  std::size_t primary = 0;
  for (qsizetype i = 0; i < screens.size(); ++i) {
    screenSlots.push_back({screens[i]->name(), screens[i]->geometry()});
    if (screens[i] == primaryScreen()) primary = static_cast<std::size_t>(i);
  }
  overlay_geometry::TargetDescription description;
  if (const std::optional<CaptureTarget> target = model_.recording().selectedTarget()) {
    if (target->isDisplay()) {
      description.kind = overlay_geometry::TargetDescription::Kind::display;
      description.monitorName = x11_panel_support::atomName(target->asDisplay().displayID);
      description.displaySize = QSize(target->width(), target->height());
    } else {
      description.kind = overlay_geometry::TargetDescription::Kind::window;
      description.windowGeometry = x11_panel_support::windowFrame(target->asWindow().windowID).value_or(QRect());
    }
  }
  const std::optional<std::size_t> index = overlay_geometry::targetScreen(screenSlots, description, primary);
  return index ? screens[static_cast<qsizetype>(*index)] : nullptr;
}

QString OverlayController::panelTitle(Kind kind) {
  switch (kind) {
    case Kind::pill:
      return QStringLiteral("Tolvane recording controls");
    case Kind::bubble:
      return QStringLiteral("Tolvane camera preview");
    case Kind::countdown:
      return QStringLiteral("Tolvane countdown");
    case Kind::canvas:
      return QStringLiteral("Tolvane drawing");
    case Kind::toolbar:
      return QStringLiteral("Tolvane drawing tools");
  }
  return QStringLiteral("Tolvane");
}

OverlayController::Panel OverlayController::makePanel(Kind kind, const QString& file) {
  QQmlComponent component(&engine_, QUrl(QStringLiteral("qrc:/qt/qml/Tolvane/Overlays/") + file));
  QObject* created = component.create(context_.get());
  auto* content = qobject_cast<QQuickItem*>(created);
  if (!content) {
    delete created;
    overlayLog().warning("a floating panel could not be made: {}", component.errorString().toStdString());
    return nullptr;
  }

  Panel window(new QQuickWindow);
  // The window manager doesn't place or stack any panel: a manager keeps full-screen
  // windows above its own "always on top" layer, and the panels must stay over those
  // too. They never take the focus anyway; the stacking keeper holds them on top.
  Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint;
  if (kind != Kind::countdown) flags |= Qt::Tool;
  window->setFlags(flags);
  if (compositing_) {
    QSurfaceFormat format = window->format();
    format.setAlphaBufferSize(8);
    window->setFormat(format);
    window->setColor(Qt::transparent);
  } else {
    // Without a compositor a transparent pixel is black: the panels are kept small and
    // dark where their rounded corners leave gaps.
    window->setColor(QColor(28, 28, 30));
  }
  // Named apart from the main window ("Tolvane"), so that whoever looks for that one by
  // its title (a test, a window switcher, a script) doesn't find a panel instead.
  window->setTitle(panelTitle(kind));
  content->setParent(window.get());
  content->setParentItem(window->contentItem());

  switch (kind) {
    case Kind::pill:
    case Kind::toolbar:
      window->resize(kind == Kind::pill ? kPillSize : kToolbarSize);
      connect(content, &QQuickItem::implicitWidthChanged, window.get(), [this, w = window.get()] { fitToContent(*w); });
      connect(content, &QQuickItem::implicitHeightChanged, window.get(), [this, w = window.get()] { fitToContent(*w); });
      fitToContent(*window);
      break;
    case Kind::bubble:
      window->resize(kBubbleSize);
      break;
    case Kind::countdown:
    case Kind::canvas:
      break;
  }
  // Full-screen and fixed panels: the content follows the window.
  if (kind != Kind::pill && kind != Kind::toolbar) {
    auto follow = [content, w = window.get()] { content->setSize(w->size()); };
    connect(window.get(), &QWindow::widthChanged, content, follow);
    connect(window.get(), &QWindow::heightChanged, content, follow);
    follow();
  }
  window->create();
  x11_panel_support::markAsPanel(*window);
  if (kind == Kind::canvas && compositing_) {
    // See-through, the canvas shows only its strokes, and a display recording need look
    // through it only there. (Without a compositor it covers the desktop all over.)
    if (auto* surface = content->findChild<AnnotationCanvasItem*>()) new CanvasAreaPublisher(*surface, *window);
  }
  if (kind == Kind::countdown) {
    // Clicks go to whatever is below: an empty input region, set on the live window.
    window->setFlag(Qt::WindowTransparentForInput, true);
  }
  return window;
}

void OverlayController::fitToContent(QQuickWindow& window) {
  const QList<QQuickItem*> children = window.contentItem()->childItems();
  if (children.isEmpty()) return;
  QQuickItem* content = children.front();
  const QSize fitted(qRound(content->implicitWidth()), qRound(content->implicitHeight()));
  if (fitted.isEmpty()) return;
  content->setSize(fitted);
  if (window.size() == fitted) return;
  // Growing or shrinking keeps the panel's centre where it was.
  const QPoint centre = window.geometry().center();
  window.resize(fitted);
  if (window.isVisible()) window.setPosition(centre - QPoint(fitted.width() / 2, fitted.height() / 2));
}

void OverlayController::showCountdown(int seconds) {
  QScreen* screen = targetScreen();
  if (!screen) return;
  if (!countdown_) countdown_ = makePanel(Kind::countdown, QStringLiteral("CountdownOverlay.qml"));
  if (!countdown_) return;
  countdown_->contentItem()->childItems().front()->setProperty("number", seconds);
  // Without a compositor the panel can't be see-through, so it covers only its circle.
  const QRect whole = screen->geometry();
  countdown_->setGeometry(compositing_ ? whole : QRect(whole.center() - QPoint(kCountdownSide / 2, kCountdownSide / 2),
                                                       QSize(kCountdownSide, kCountdownSide)));
  countdown_->show();
  keepOnTop();
}

void OverlayController::dropCountdown() { countdown_.reset(); }

void OverlayController::showPill() {
  if (pill_) return;
  QScreen* screen = primaryScreen();
  if (!screen) return;
  pill_ = makePanel(Kind::pill, QStringLiteral("ControlPill.qml"));
  if (!pill_) return;
  pill_->setPosition(overlay_geometry::pillPosition(screen->geometry(), pill_->size()));
  pill_->show();
  keepOnTop();
}

void OverlayController::dropPill() { pill_.reset(); }

void OverlayController::showBubble() {
  if (!bubble_) {
    bubble_ = makePanel(Kind::bubble, QStringLiteral("BubblePreview.qml"));
    if (!bubble_) return;
    positionBubble();
    connect(bubble_.get(), &QWindow::xChanged, this, &OverlayController::syncBubbleLayout);
    connect(bubble_.get(), &QWindow::yChanged, this, &OverlayController::syncBubbleLayout);
  }
  bubble_->resize(kBubbleSize);
  bubble_->show();
  keepOnTop();
}

void OverlayController::hideBubble() {
  if (bubble_) disconnect(bubble_.get(), nullptr, this, nullptr);
  bubble_.reset();
}

void OverlayController::positionBubble() {
  QScreen* screen = targetScreen();
  if (!bubble_ || !screen) return;
  // Placing the panel from the layout must not write the layout back, rounded.
  placingBubble_ = true;
  bubble_->setPosition(overlay_geometry::bubblePosition(screen->geometry(), kBubbleSize, model_.recording().bubble()));
  placingBubble_ = false;
}

void OverlayController::syncBubbleLayout() {
  QScreen* screen = targetScreen();
  if (placingBubble_ || !bubble_ || !screen) return;
  const BubbleLayout& current = model_.recording().bubble();
  const BubbleLayout moved = overlay_geometry::bubbleLayoutForPanel(screen->geometry(), bubble_->geometry(), current);
  if (moved != current) model_.recording().setBubble(moved);
}

void OverlayController::showAnnotations() {
  QScreen* screen = targetScreen();
  if (!screen) return;
  if (!canvas_) canvas_ = makePanel(Kind::canvas, QStringLiteral("AnnotationCanvas.qml"));
  if (!toolbar_) toolbar_ = makePanel(Kind::toolbar, QStringLiteral("AnnotationToolbar.qml"));
  if (canvas_) {
    if (!compositing_ && !canvas_->isVisible()) {
      // Nothing shows through the canvas here; it shows the desktop as it is now.
      if (auto* surface = canvas_->contentItem()->findChild<AnnotationCanvasItem*>()) {
        surface->setBackdrop(screen->grabWindow(0).toImage());
      }
    }
    canvas_->setGeometry(screen->geometry());
    canvas_->show();
  }
  if (toolbar_) {
    toolbar_->setPosition(overlay_geometry::toolbarPosition(screen->geometry(), toolbar_->size()));
    toolbar_->show();
  }
  keepOnTop();
}

void OverlayController::keepOnTop() {
  if (stacking_) {
    stacking_->restack();
    return;
  }
  for (QQuickWindow* panel : {canvas_.get(), bubble_.get(), pill_.get(), toolbar_.get(), countdown_.get()}) {
    if (panel && panel->isVisible()) panel->raise();
  }
}

void OverlayController::hideAnnotations() {
  canvas_.reset();
  toolbar_.reset();
}

}  // namespace tolvane
