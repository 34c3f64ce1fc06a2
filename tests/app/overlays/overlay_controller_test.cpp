#include "app/overlays/overlay_controller.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRasterWindow>
#include <QRegion>
#include <QScreen>
#include <QTest>
#include <QVariantMap>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <map>
#include <string>

#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/overlays/camera_frame_store.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/app/desktop_test_env.h"
#include "tests/app/movie_probe.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

// Xlib's macros break gtest's and Qt's names; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace tolvane {
namespace {

Display* x11Display() { return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display(); }

std::vector<unsigned long> cardinals(QWindow& window, const char* property, Atom type) {
  Display* display = x11Display();
  Atom actual = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(display, static_cast<::Window>(window.winId()), XInternAtom(display, property, False), 0, 64,
                         False, type, &actual, &format, &count, &remaining, &data) == Success &&
      data && format == 32) {
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    // Xlib hands 32-bit items over in longs, sign-extended.
    for (unsigned long i = 0; i < count; ++i) values.push_back(longs[i] & 0xFFFFFFFFul);
  }
  if (data) XFree(data);
  return values;
}

bool hasState(QWindow& window, const char* state) {
  const Atom wanted = XInternAtom(x11Display(), state, False);
  for (unsigned long atom : cardinals(window, "_NET_WM_STATE", XA_ATOM)) {
    if (atom == wanted) return true;
  }
  return false;
}

// A click by the X server itself, so it lands in whichever window takes input there.
void serverClick(QPoint at) {
  Display* display = x11Display();
  XTestFakeMotionEvent(display, -1, at.x(), at.y(), 0);
  XTestFakeButtonEvent(display, 1, True, 0);
  XTestFakeButtonEvent(display, 1, False, 0);
  XFlush(display);
}

// The colour the X server shows at `at` on the root window: what the compositor painted.
QColor screenPixel(QPoint at) {
  Display* display = x11Display();
  XImage* image = XGetImage(display, DefaultRootWindow(display), at.x(), at.y(), 1, 1, AllPlanes, ZPixmap);
  if (!image) return {};
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return QColor(static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
                static_cast<int>(pixel & 0xFF));
}

bool near(const QColor& a, const QColor& b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

// A window taking almost all the screen that counts the presses it gets: something to
// click and to see under the panels. (All of it would make it a full-screen window, which
// a window manager stacks above everything else.)
struct ScreenBelow : QObject {
  explicit ScreenBelow(QColor color) {
    window.setFlags(Qt::FramelessWindowHint);
    window.setColor(color);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry().adjusted(10, 10, -10, -10));
    window.installEventFilter(this);
    window.show();
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress) ++clicks;
    return false;
  }
  QQuickWindow window;
  int clicks = 0;
};

class OverlayControllerTest : public ::testing::Test {
 protected:
  OverlayControllerTest() {
    testing::desktopApplication<QGuiApplication>();
    model = std::make_unique<AppModel>(testing::sceneModelSettings(dir.path(), clock));
    EXPECT_TRUE(testing::readSceneSources(model->recording()));
    engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine->rootContext()->setContextProperty(QStringLiteral("model"), model.get());
    overlays = std::make_unique<OverlayController>(*model, *engine);
  }

  static QQuickWindow& shown(QQuickWindow* window) {
    if (!window) throw std::runtime_error("the panel was not made");
    EXPECT_TRUE(testing::spinUntil([&] { return window->isExposed(); }));
    return *window;
  }

  // By the items' tree: a Repeater's items have no QObject parent to search from.
  static QQuickItem* search(QQuickItem* item, const QString& name) {
    if (item->objectName() == name) return item;
    for (QQuickItem* child : item->childItems()) {
      if (QQuickItem* found = search(child, name)) return found;
    }
    return nullptr;
  }

  template <typename T = QQuickItem>
  static T* find(QQuickWindow& window, const QString& name) {
    auto* found = qobject_cast<T*>(search(window.contentItem(), name));
    if (!found) throw std::runtime_error("no item " + name.toStdString());
    return found;
  }

  static void click(QQuickWindow& window, const QString& name) {
    QQuickItem* item = find(window, name);
    QTest::mouseClick(&window, Qt::LeftButton, {}, item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
  }

  static const QRect& screen() {
    static const QRect geometry = QGuiApplication::primaryScreen()->geometry();
    return geometry;
  }

  // Whether one of the countdown's faces shows `text` fully.
  static bool showsNumber(QQuickWindow& countdown, const QString& text) {
    for (QObject* face : countdown.findChildren<QObject*>(QStringLiteral("countdownFace"))) {
      if (face->property("text").toString() == text && face->property("opacity").toDouble() == 1.0) return true;
    }
    return false;
  }

  bool reachPhase(const QString& phase) {
    return testing::spinUntil([&] {
      clock->advance(0.25);
      return model->recording().phaseText() == phase;
    });
  }

  testing::TempDir dir;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::unique_ptr<AppModel> model;
  std::unique_ptr<QQmlEngine> engine;
  std::unique_ptr<OverlayController> overlays;
};

TEST_F(OverlayControllerTest, CountdownCoversTheScreenAndLetsClicksThrough) {
  ScreenBelow below(Qt::darkCyan);
  ASSERT_TRUE(testing::spinUntil([&] { return below.window.isExposed(); }));

  overlays->showCountdown(3);
  QQuickWindow& countdown = shown(overlays->countdownPanel());
  // A bare Xvfb has no compositing manager: the panel is only its circle then.
  ASSERT_FALSE(overlays->compositingNotice().isEmpty());
  EXPECT_EQ(countdown.geometry(), QRect(screen().center() - QPoint(84, 84), QSize(168, 168)));
  EXPECT_TRUE(countdown.flags().testFlag(Qt::WindowTransparentForInput));
  EXPECT_TRUE(countdown.flags().testFlag(Qt::WindowDoesNotAcceptFocus));
  EXPECT_TRUE(showsNumber(countdown, "3"));
  testing::saveForReview(countdown, "overlay-countdown.png");

  serverClick(screen().center());
  EXPECT_TRUE(testing::spinUntil([&] { return below.clicks == 1; })) << "the click went to the window below";

  overlays->showCountdown(2);
  EXPECT_EQ(overlays->countdownPanel(), &countdown) << "the same panel shows the next number";
  EXPECT_TRUE(testing::spinUntil([&] { return showsNumber(countdown, "2") && !showsNumber(countdown, "3"); }))
      << "the new number fades in, the old one out";
  overlays->dropCountdown();
  EXPECT_EQ(overlays->countdownPanel(), nullptr);
}

TEST_F(OverlayControllerTest, PillDrivesARealRecordingFromItsPlace) {
  EXPECT_FALSE(overlays->compositingNotice().isEmpty()) << "a bare Xvfb has no compositing manager";
  model->recording().startCountdown();
  clock->advance(3);
  ASSERT_TRUE(reachPhase(QStringLiteral("recording"))) << model->recording().recordingError().toStdString();

  overlays->showPill();
  QQuickWindow& pill = shown(overlays->pillPanel());
  overlays->showPill();
  EXPECT_EQ(overlays->pillPanel(), &pill) << "shown once";
  for (Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus}) {
    EXPECT_TRUE(pill.flags().testFlag(flag)) << flag;
  }
  EXPECT_EQ(cardinals(pill, "_NET_WM_DESKTOP", XA_CARDINAL), std::vector<unsigned long>{0xFFFFFFFF});
  for (const char* state : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    EXPECT_TRUE(hasState(pill, state)) << state;
  }
  // Its content's size, centred, 64 px above the bottom.
  QQuickItem* content = find(pill, QStringLiteral("controlPill"));
  EXPECT_EQ(pill.size(), QSize(qRound(content->implicitWidth()), 44));
  EXPECT_EQ(pill.geometry().center().x(), screen().center().x());
  EXPECT_EQ(pill.geometry().bottom() + 1, screen().bottom() + 1 - 64);

  ASSERT_TRUE(testing::spinUntil([&] {
    clock->advance(0.25);
    return model->recording().elapsed() >= 1.0;
  }));
  EXPECT_EQ(find<QObject>(pill, QStringLiteral("pauseButton"))->property("label").toString(), "Pause");
  testing::saveForReview(pill, "overlay-pill-recording.png");

  click(pill, QStringLiteral("pauseButton"));
  ASSERT_TRUE(reachPhase(QStringLiteral("paused")));
  EXPECT_EQ(find<QObject>(pill, QStringLiteral("pauseButton"))->property("label").toString(), "Resume");
  EXPECT_EQ(find<QObject>(pill, QStringLiteral("statusDot"))->property("color").value<QColor>(), QColor("#d9822b"));
  // The pointer leaves the button, so the picture shows it at rest.
  QTest::mouseMove(&pill, QPoint(4, 22));
  testing::saveForReview(pill, "overlay-pill-paused.png");
  click(pill, QStringLiteral("pauseButton"));
  ASSERT_TRUE(reachPhase(QStringLiteral("recording"))) << model->recording().phaseText().toStdString() << " "
      << find<QObject>(pill, QStringLiteral("pauseButton"))->property("label").toString().toStdString();

  // The drawing button toggles drawing and says what a press would do next.
  QObject* drawing = find<QObject>(pill, QStringLiteral("drawingButton"));
  EXPECT_EQ(drawing->property("tip").toString(), "Draw on screen (Ctrl+Alt+D)");
  click(pill, QStringLiteral("drawingButton"));
  EXPECT_TRUE(model->annotations().isDrawing());
  EXPECT_EQ(drawing->property("tip").toString(), "Stop drawing (Ctrl+Alt+D)");
  click(pill, QStringLiteral("drawingButton"));
  EXPECT_EQ(drawing->property("tip").toString(), "Draw on screen (Ctrl+Alt+D)");

  // Dragging the capsule moves the panel.
  const QPoint before = pill.position();
  QTest::mousePress(&pill, Qt::LeftButton, {}, QPoint(4, 22));
  QTest::mouseMove(&pill, QPoint(4 - 100, 22 - 40));
  // The panel moved under the pointer: where it was released is where it was pressed.
  QTest::mouseRelease(&pill, Qt::LeftButton, {}, QPoint(4, 22));
  // Within a few pixels: the panel's own recentring as its labels change width may still
  // be on its way to the X server.
  const auto movedBy = [&] { return pill.position() - before; };
  EXPECT_TRUE(testing::spinUntil([&] {
    const QPoint moved = movedBy();
    return std::abs(moved.x() + 100) <= 10 && std::abs(moved.y() + 40) <= 10;
  })) << movedBy().x() << "," << movedBy().y();

  click(pill, QStringLiteral("stopButton"));
  ASSERT_TRUE(reachPhase(QStringLiteral("idle")));
  overlays->dropPill();
  EXPECT_EQ(overlays->pillPanel(), nullptr);
}

TEST_F(OverlayControllerTest, TipsStayOnTheScreenBesideAPillDraggedToItsEdge) {
  overlays->showPill();
  QQuickWindow& pill = shown(overlays->pillPanel());
  // Dragged so far right that the drawing button, whose tip is the longest, is flush with
  // the screen's edge: a tip centred on it would stick out.
  QQuickItem* drawing = find(pill, QStringLiteral("drawingButton"));
  const QPointF buttonRight = drawing->mapToScene(QPointF(drawing->width(), drawing->height() / 2));
  const QPoint edge(screen().right() + 1 - qRound(buttonRight.x()), screen().bottom() + 1 - pill.height());
  pill.setPosition(edge);
  ASSERT_TRUE(testing::spinUntil([&] { return pill.position() == edge; }));

  QTest::mouseMove(&pill, (buttonRight - QPointF(drawing->width() / 2, 0)).toPoint());
  QWindow* tip = nullptr;
  ASSERT_TRUE(testing::spinUntil([&] {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->type() == Qt::ToolTip && window->isVisible()) tip = window;
    }
    return tip != nullptr;
  }));
  EXPECT_GT(tip->width(), drawing->width() * 2) << "a tip wider than its button";
  EXPECT_TRUE(screen().contains(tip->geometry())) << tip->x() << "," << tip->y() << " " << tip->width();
  EXPECT_LT(tip->geometry().bottom(), pill.y()) << "above the pill at the bottom edge";
}

TEST_F(OverlayControllerTest, BubbleFollowsTheLayoutAndDraggingWritesItBack) {
  BubbleLayout layout;
  layout.centre = {0.5, 0.25};
  layout.diameterFraction = 0.2;
  model->recording().setBubble(layout);
  overlays->showBubble();
  QQuickWindow& bubble = shown(overlays->bubblePanel());
  EXPECT_EQ(bubble.size(), QSize(148, 148));
  EXPECT_EQ(bubble.geometry().center(), QPoint(960 - 1, 270 - 1));
  EXPECT_EQ(model->recording().bubble(), layout) << "placing it doesn't move the layout";

  // The camera's picture reaches the circle, mirrored: red on the camera's left shows on
  // the preview's right.
  auto* store = qobject_cast<CameraFrameStore*>(find(bubble, QStringLiteral("cameraSurface"))->property("store").value<QObject*>());
  ASSERT_NE(store, nullptr);
  const VideoFrame frame = VideoFrame::allocate(64, 48);
  frame.fill(255, 0, 0, 255);  // blue (BGRA)
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 32; ++x) {
      std::uint8_t* p = frame.pixel(x, y);
      p[0] = 0;
      p[2] = 255;  // red
    }
  }
  store->sink()->showFrame(frame);
  ASSERT_TRUE(testing::spinUntil([&] { return find(bubble, QStringLiteral("cameraSurface"))->property("hasPicture").toBool(); }));
  testing::saveForReview(bubble, "overlay-bubble.png");
  const QImage seen = bubble.grabWindow();
  const QColor left = seen.pixelColor(40, 74);
  const QColor right = seen.pixelColor(108, 74);
  EXPECT_GT(left.blue(), 200) << "left shows the camera's right";
  EXPECT_LT(left.red(), 60);
  EXPECT_GT(right.red(), 200);
  EXPECT_LT(right.blue(), 60);

  // Dragged far past the right and bottom edges: the layout pins to 1 and keeps its size.
  QTest::mousePress(&bubble, Qt::LeftButton, {}, QPoint(74, 74));
  QTest::mouseMove(&bubble, QPoint(74 + 4000, 74 + 4000));
  QTest::mouseRelease(&bubble, Qt::LeftButton, {}, QPoint(74, 74));
  EXPECT_TRUE(testing::spinUntil([&] { return model->recording().bubble().centre == Point{1.0, 1.0}; }));
  EXPECT_DOUBLE_EQ(model->recording().bubble().diameterFraction, 0.2);

  bubble.setPosition(screen().x() + 100 - 74, screen().y() + 540 - 74);
  EXPECT_TRUE(testing::spinUntil([&] {
    const Point centre = model->recording().bubble().centre;
    return std::abs(centre.x - 100.0 / 1920) < 1e-9 && std::abs(centre.y - 0.5) < 1e-9;
  }));
  overlays->hideBubble();
  EXPECT_EQ(overlays->bubblePanel(), nullptr);
}

TEST_F(OverlayControllerTest, BubbleShowsTheRecordingsOwnCameraWhileRecording) {
  model->recording().setProperty("selectedCameraID", QString::fromStdString(std::string(SyntheticSources::barsID)));
  overlays->showBubble();
  QQuickWindow& bubble = shown(overlays->bubblePanel());
  auto* store = qobject_cast<CameraFrameStore*>(find(bubble, QStringLiteral("cameraSurface"))->property("store").value<QObject*>());
  ASSERT_NE(store, nullptr);
  // Idle: the preview session's own full-size pictures.
  ASSERT_TRUE(testing::spinUntil([&] { return store->image().size() == QSize(640, 480); }));

  model->recording().startCountdown();
  clock->advance(3);
  ASSERT_TRUE(reachPhase(QStringLiteral("recording"))) << model->recording().recordingError().toStdString();
  // The preview session let the camera go; the engine's small copies take over.
  ASSERT_TRUE(testing::spinUntil([&] { return store->image().size() == QSize(427, 320); }))
      << store->image().width() << "x" << store->image().height();
  ASSERT_TRUE(testing::spinUntil([&] { return find(bubble, QStringLiteral("cameraSurface"))->property("hasPicture").toBool(); }));
  // The colour bars fill the circle instead of its dark ground (28, 28, 30).
  const QImage seen = bubble.grabWindow();
  int bright = 0;
  for (int x = 30; x <= 118; x += 4) bright += qGray(seen.pixel(x, 74)) > 80 ? 1 : 0;
  EXPECT_GT(bright, 15) << "of 23 points across the middle";
  testing::saveForReview(bubble, "overlay-bubble-recording.png");

  model->recording().stopRecording();
  ASSERT_TRUE(reachPhase(QStringLiteral("idle")));
  // Idle again: the preview session's pictures are back.
  EXPECT_TRUE(testing::spinUntil([&] { return store->image().size() == QSize(640, 480); }));
  overlays->hideBubble();
}

TEST_F(OverlayControllerTest, CanvasTurnsDragsIntoStrokesAndTheToolbarEditsThem) {
  model->annotations().setDrawing(true);
  overlays->showAnnotations();
  QQuickWindow& canvas = shown(overlays->canvasPanel());
  QQuickWindow& toolbar = shown(overlays->toolbarPanel());
  EXPECT_EQ(canvas.geometry(), screen());
  EXPECT_EQ(toolbar.geometry().center().x(), screen().center().x());
  EXPECT_EQ(toolbar.y(), screen().y() + 56);
  EXPECT_EQ(toolbar.size().height(), 44);
  EXPECT_FALSE(find(toolbar, QStringLiteral("undoButton"))->isEnabled()) << "nothing to undo yet";

  // One drag per tool, each in its own colour, through real mouse events on the canvas.
  const QStringList tools = {"pen", "highlighter", "arrow", "line", "rectangle", "ellipse", "blur"};
  const QStringList swatches = {"Tomato", "Yellow", "Green", "Blue", "White", "Tomato", "White"};
  for (qsizetype i = 0; i < tools.size(); ++i) {
    click(toolbar, "tool_" + tools[i]);
    click(toolbar, "swatch_" + swatches[i]);
    ASSERT_EQ(model->annotations().activeToolName(), tools[i]);
    ASSERT_TRUE(find(toolbar, "tool_" + tools[i])->property("active").toBool());
    const int left = 120 + static_cast<int>(i) * 250;
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(left, 300));
    for (int step = 1; step <= 4; ++step) QTest::mouseMove(&canvas, QPoint(left + step * 40, 300 + step * step * 15));
    // Switching tools mid-drag (the pointer is held by the canvas, so not by a click).
    if (i == 2) model->annotations().setActiveTool(AnnotationTool::pen);
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(left + 160, 540));
  }
  const std::vector<AnnotationStroke>& strokes = model->annotations().strokes();
  ASSERT_EQ(strokes.size(), 7u);
  EXPECT_EQ(strokes[0].points.size(), 6u) << "the pen kept every point";
  EXPECT_EQ(strokes[0].points.front(), (Point{120.0 / 1920, 300.0 / 1080}));
  EXPECT_EQ(strokes[2].tool, AnnotationTool::arrow) << "the tool switch waited for the next stroke";
  EXPECT_EQ(strokes[3].points, (std::vector<Point>{{870.0 / 1920, 300.0 / 1080}, {1030.0 / 1920, 540.0 / 1080}}));
  EXPECT_EQ(strokes[4].color, annotation_colors::white);
  EXPECT_TRUE(find(toolbar, QStringLiteral("undoButton"))->isEnabled());

  // A bare click is a dot.
  click(toolbar, QStringLiteral("tool_pen"));
  QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(1800, 900));
  ASSERT_EQ(strokes.size(), 8u);
  EXPECT_EQ(strokes.back().points.size(), 2u);
  EXPECT_EQ(strokes.back().points[0], strokes.back().points[1]);

  // Every tool with the toolbar over it, as one picture.
  testing::saveForReview(canvas, "overlay-canvas.png");
  QImage picture = canvas.grabWindow();
  {
    QPainter painter(&picture);
    painter.drawImage(toolbar.position() - canvas.position(), toolbar.grabWindow());
  }
  picture.save(QString::fromStdString((testing::screenshotDirectory() / "overlay-canvas-toolbar.png").string()));

  click(toolbar, QStringLiteral("undoButton"));
  EXPECT_EQ(strokes.size(), 7u);
  click(toolbar, QStringLiteral("clearButton"));
  EXPECT_TRUE(strokes.empty());
  EXPECT_FALSE(find(toolbar, QStringLiteral("undoButton"))->isEnabled());
  EXPECT_FALSE(find(toolbar, QStringLiteral("clearButton"))->isEnabled());

  click(toolbar, QStringLiteral("doneButton"));
  EXPECT_FALSE(model->annotations().isDrawing());
  overlays->hideAnnotations();
  EXPECT_EQ(overlays->canvasPanel(), nullptr);
  EXPECT_EQ(overlays->toolbarPanel(), nullptr);
}

// The mapped children of the root window, topmost first: the stacking order on screen.
std::vector<::Window> mappedTopFirst() {
  Display* display = x11Display();
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned int count = 0;
  std::vector<::Window> mapped;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return mapped;
  for (unsigned int i = count; i-- > 0;) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, children[i], &attributes) != 0 && attributes.map_state == IsViewable) {
      mapped.push_back(children[i]);
    }
  }
  if (children) XFree(children);
  return mapped;
}

bool windowManagerRuns() {
  Display* display = x11Display();
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), 0,
                     1, False, XA_WINDOW, &type, &format, &count, &remaining, &data);
  if (data) XFree(data);
  return count == 1;
}

TEST_F(OverlayControllerTest, PanelsStayAboveAFullScreenWindowMappedAfterThem) {
  const std::map<std::string, std::string> onDisplay = {{"DISPLAY", testing::testDisplayName()}};
  testing::ChildProcess windowManager({"openbox", "--sm-disable"}, onDisplay, dir.path() / "openbox.log");
  ASSERT_TRUE(testing::spinUntil([] { return windowManagerRuns(); }));

  overlays->showPill();
  model->annotations().setDrawing(true);
  overlays->showAnnotations();
  QQuickWindow& pill = shown(overlays->pillPanel());
  QQuickWindow& canvas = shown(overlays->canvasPanel());
  QQuickWindow& toolbar = shown(overlays->toolbarPanel());
  const std::vector<::Window> panels = {static_cast<::Window>(toolbar.winId()), static_cast<::Window>(pill.winId()),
                                        static_cast<::Window>(canvas.winId())};
  const auto panelsOnTop = [&] {
    const std::vector<::Window> stack = mappedTopFirst();
    return stack.size() > panels.size() && std::equal(panels.begin(), panels.end(), stack.begin());
  };
  EXPECT_TRUE(testing::spinUntil(panelsOnTop)) << "the toolbar over the pill over the canvas, over everything";

  // A full-screen window comes later and takes the focus: a window manager stacks it
  // above its own "always on top" windows.
  const QColor magenta(255, 0, 255);
  QQuickWindow fullScreen;
  fullScreen.setColor(magenta);
  fullScreen.showFullScreen();
  fullScreen.requestActivate();
  ASSERT_TRUE(testing::spinUntil([&] {
    return fullScreen.isExposed() && fullScreen.geometry() == screen() && fullScreen.isActive() &&
           hasState(fullScreen, "_NET_WM_STATE_FULLSCREEN");
  }));
  // The window manager's restacking and our answer to it both settle.
  testing::spinUntil([] { return false; }, std::chrono::milliseconds(700));

  EXPECT_TRUE(panelsOnTop());
  const QPoint pillCentre = pill.geometry().center();
  EXPECT_FALSE(near(screenPixel(pillCentre), magenta, 10)) << "the pill shows, not the full-screen window";
  EXPECT_FALSE(near(screenPixel(QPoint(300, 800)), magenta, 10)) << "the canvas shows";
  overlays.reset();
}

// openbox and xcompmgr on the test's display while it lives, stopped by PID. The test's
// own windows are shown first and taken over as openbox starts: one mapped while openbox
// is still starting up may never be managed, and so never shown.
struct CompositingDesktop {
  explicit CompositingDesktop(const std::filesystem::path& logs)
      : windowManager({"openbox", "--sm-disable"}, onDisplay(), logs / "openbox.log"),
        compositor({"xcompmgr"}, onDisplay(), logs / "xcompmgr.log") {}
  static std::map<std::string, std::string> onDisplay() { return {{"DISPLAY", testing::testDisplayName()}}; }
  // Whether both run and openbox manages `window`: panels made from then on are
  // see-through, and the window shows under them.
  static bool hasTakenOver(QWindow& window) {
    const Atom selection = XInternAtom(x11Display(), "_NET_WM_CM_S0", False);
    const Atom state = XInternAtom(x11Display(), "WM_STATE", False);
    return windowManagerRuns() && XGetSelectionOwner(x11Display(), selection) != 0 &&
           !cardinals(window, "WM_STATE", state).empty() && window.isExposed();
  }
  testing::ChildProcess windowManager;
  testing::ChildProcess compositor;
};

TEST_F(OverlayControllerTest, UnderACompositorThePanelsAreSeeThroughAndClickThrough) {
  // A calm desktop blue: the pictures saved here go into the documentation.
  const QColor desktop(58, 96, 140);
  ScreenBelow below(desktop);
  ASSERT_TRUE(testing::spinUntil([&] { return below.window.isExposed(); }));
  CompositingDesktop compositing(dir.path());
  ASSERT_TRUE(testing::spinUntil([&] { return CompositingDesktop::hasTakenOver(below.window); }));
  overlays = std::make_unique<OverlayController>(*model, *engine);
  EXPECT_TRUE(overlays->compositingNotice().isEmpty());

  // The countdown covers the screen and still lets the click through.
  overlays->showCountdown(3);
  QQuickWindow& countdown = shown(overlays->countdownPanel());
  EXPECT_EQ(countdown.geometry(), screen());
  EXPECT_TRUE(testing::spinUntil([&] { return near(screenPixel(QPoint(100, 100)), desktop, 2); }))
      << "the countdown is see-through around its circle";
  serverClick(QPoint(100, 100));
  EXPECT_TRUE(testing::spinUntil([&] { return below.clicks == 1; }));
  // As the user sees it: the circle over the desktop.
  testing::spinUntil([] { return false; }, std::chrono::milliseconds(700));
  QGuiApplication::primaryScreen()
      ->grabWindow(0, screen().center().x() - 120, screen().center().y() - 120, 240, 240)
      .save(QString::fromStdString((testing::screenshotDirectory() / "overlay-countdown-on-desktop.png").string()));
  overlays->dropCountdown();

  // The canvas shows what is under it, and a highlighter stroke over it once, at 0.38.
  model->annotations().setDrawing(true);
  overlays->showAnnotations();
  shown(overlays->canvasPanel());
  model->annotations().addStroke(
      AnnotationStroke(AnnotationTool::highlighter, annotation_colors::tomato, 0.05, {{0.4, 0.5}, {0.6, 0.5}}));
  const auto over = [](double tomato, int under) { return qRound(tomato * 0.38 * 255 + 0.62 * under); };
  const QColor highlighted(over(1.0, desktop.red()), over(0.384, desktop.green()), over(0.314, desktop.blue()));
  EXPECT_TRUE(testing::spinUntil([&] { return near(screenPixel(QPoint(960, 540)), highlighted, 4); }))
      << screenPixel(QPoint(960, 540)).name().toStdString() << " for " << highlighted.name().toStdString();
  EXPECT_TRUE(near(screenPixel(QPoint(300, 800)), desktop, 2)) << screenPixel(QPoint(300, 800)).name().toStdString();
  testing::saveForReview(*overlays->toolbarPanel(), "overlay-toolbar.png");

  // The canvas tells display recordings where it paints (so that they look through it
  // only there): every pixel it shows, an arrow's head and a blur box's tint included,
  // lies in the areas it publishes, and little else does.
  model->annotations().addStroke(
      AnnotationStroke(AnnotationTool::arrow, annotation_colors::tomato, 0.01, {{0.1, 0.2}, {0.25, 0.1}}));
  model->annotations().addStroke(
      AnnotationStroke(AnnotationTool::blur, annotation_colors::white, 0.01, {{0.7, 0.7}, {0.8, 0.85}}));
  QQuickWindow& canvas = *overlays->canvasPanel();
  QRegion published;
  const auto publishedAll = [&] {
    published = QRegion();
    const std::vector<unsigned long> items = cardinals(canvas, "_TOLVANE_CAPTURE_EXCLUDED_AREAS", XA_CARDINAL);
    for (std::size_t i = 0; i + 4 <= items.size(); i += 4) {
      published += QRect(static_cast<int>(items[i]), static_cast<int>(items[i + 1]), static_cast<int>(items[i + 2]),
                         static_cast<int>(items[i + 3]));
    }
    return published.contains(QPoint(960, 540)) && published.contains(QPoint(480, 108)) &&
           published.contains(QPoint(1440, 840));
  };
  ASSERT_TRUE(testing::spinUntil(publishedAll));
  const QImage painted = canvas.grabWindow().convertToFormat(QImage::Format_ARGB32);
  long paintedPixels = 0;
  long outside = 0;
  for (int y = 0; y < painted.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(painted.constScanLine(y));
    for (int x = 0; x < painted.width(); ++x) {
      // The canvas's own near-clear fill, which still takes the clicks, shows nothing.
      if (qAlpha(line[x]) <= 1) continue;
      ++paintedPixels;
      if (!published.contains(QPoint(x, y))) ++outside;
    }
  }
  EXPECT_GT(paintedPixels, 10000);
  EXPECT_EQ(outside, 0) << "painted pixels outside the published areas";
  long area = 0;
  for (const QRect& rect : published) area += static_cast<long>(rect.width()) * rect.height();
  EXPECT_LT(area, paintedPixels * 3) << "the areas hug the strokes";
  model->annotations().clearStrokes();
  EXPECT_TRUE(testing::spinUntil([&] {
    return cardinals(canvas, "_TOLVANE_CAPTURE_EXCLUDED_AREAS", XA_CARDINAL).empty();
  })) << "a canvas with nothing on it shows nothing";
  overlays.reset();
}

// The test's own X display, with the colour bars for a camera.
struct DisplayAndBars final : SourceCatalog {
  ShareableContent shareableContent() override { return system.shareableContent(); }
  std::vector<AudioDeviceOption> microphones() override { return {}; }
  std::vector<CameraOption> cameras() override { return {{std::string(SyntheticSources::barsID), "Colour bars"}}; }
  SystemSourceCatalog system;
};

// A window over almost all the screen painting a grid of coloured blocks laid out in
// screen pixels: what lies under a panel is known at every point.
struct BlockPattern : QRasterWindow {
  static constexpr int kBlock = 240;
  static QColor colorAt(QPoint at) {
    // Mid-tones, none of them a panel's dark ground or one of the camera's pure bars.
    static const std::array<QColor, 5> palette = {QColor(196, 84, 64), QColor(72, 150, 92), QColor(80, 96, 180),
                                                  QColor(214, 176, 72), QColor(150, 90, 160)};
    return palette[static_cast<std::size_t>((at.x() / kBlock + 2 * (at.y() / kBlock)) % 5)];
  }
  // At least `margin` pixels from its block's edges, where the encoder's halved colour
  // resolution mixes neighbouring blocks.
  static bool isInsideBlock(QPoint at, int margin) {
    const int x = at.x() % kBlock;
    const int y = at.y() % kBlock;
    return x >= margin && x < kBlock - margin && y >= margin && y < kBlock - margin;
  }
  explicit BlockPattern(const QRect& area) {
    setFlags(Qt::FramelessWindowHint);
    setGeometry(area);
    show();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    for (int y = 0; y < geometry().bottom() + 1; y += kBlock) {
      for (int x = 0; x < geometry().right() + 1; x += kBlock) {
        painter.fillRect(QRect(x, y, kBlock, kBlock).translated(-position()), colorAt(QPoint(x, y)));
      }
    }
  }
};

QColor meanColor(const QImage& image, const QRect& area) {
  double sums[3] = {0, 0, 0};
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor color = image.pixelColor(x, y);
      sums[0] += color.red();
      sums[1] += color.green();
      sums[2] += color.blue();
    }
  }
  const double count = static_cast<double>(area.width()) * area.height();
  return QColor(qRound(sums[0] / count), qRound(sums[1] / count), qRound(sums[2] / count));
}

std::string text(const QColor& color) {
  return std::to_string(color.red()) + "," + std::to_string(color.green()) + "," + std::to_string(color.blue());
}

// A recording of the display, judged on its decoded file: the panels are taken out of
// the screen's picture, and the bubble and the strokes they show are drawn into the
// video once, by the recording itself.
TEST_F(OverlayControllerTest, ADisplayRecordingHasThePanelsContentOnceAndTheDesktopUnderThem) {
  const QRect patternArea = screen().adjusted(10, 10, -10, -10);
  BlockPattern pattern(patternArea);
  ASSERT_TRUE(testing::spinUntil([&] { return pattern.isExposed(); }));
  CompositingDesktop compositing(dir.path());
  ASSERT_TRUE(testing::spinUntil([&] {
    return CompositingDesktop::hasTakenOver(pattern) && pattern.geometry() == patternArea;
  })) << "openbox took the pattern over where it was";
  overlays.reset();
  model.reset();
  AppModel::Settings settings = testing::sceneModelSettings(dir.path(), clock);
  settings.recording.catalog = std::make_shared<DisplayAndBars>();
  model = std::make_unique<AppModel>(std::move(settings));
  engine->rootContext()->setContextProperty(QStringLiteral("model"), model.get());
  ASSERT_TRUE(testing::readSceneSources(model->recording()));
  ASSERT_TRUE(model->recording().selectedTarget() && model->recording().selectedTarget()->isDisplay());
  overlays = std::make_unique<OverlayController>(*model, *engine);
  ASSERT_TRUE(overlays->compositingNotice().isEmpty());

  // The pointer, which the recording shows, on the desktop's margin, away from the checks.
  XTestFakeMotionEvent(x11Display(), -1, 2, 2, 0);
  XFlush(x11Display());

  // A small bubble in the middle of a block: the recording draws it 86 px wide, inside
  // the 148 px preview panel, so the preview's own picture would show around it.
  BubbleLayout layout;
  layout.centre = {360.0 / 1920, 360.0 / 1080};
  layout.diameterFraction = 0.08;
  model->recording().setBubble(layout);
  model->recording().setSelectedCameraID(std::string(SyntheticSources::barsID));
  model->recording().startCountdown();
  clock->advance(3);
  ASSERT_TRUE(reachPhase(QStringLiteral("recording"))) << model->recording().recordingError().toStdString();
  const std::string itemID = model->recording().currentItemID().value_or("");

  overlays->showPill();
  overlays->showBubble();
  model->annotations().setDrawing(true);
  overlays->showAnnotations();
  QQuickWindow& pill = shown(overlays->pillPanel());
  QQuickWindow& bubble = shown(overlays->bubblePanel());
  QQuickWindow& toolbar = shown(overlays->toolbarPanel());
  shown(overlays->canvasPanel());
  model->annotations().addStroke(
      AnnotationStroke(AnnotationTool::highlighter, annotation_colors::tomato, 0.05, {{0.4, 0.5}, {0.6, 0.5}}));

  // As the compositor lays the stroke: cairo's premultiplied 8-bit ink at alpha 97
  // (0.38), then libyuv's blend keeps (256 - 97) / 256 of the block. The encoder turns
  // that RGB into BT.601 video, which ffmpeg turns back.
  const QPoint inStroke(850, 540);
  const QColor block = BlockPattern::colorAt(inStroke);
  const auto over = [](double ink, int under) { return qRound(ink * 97) + under * (256 - 97) / 256; };
  const QColor highlighted(over(1.0, block.red()), over(0.384, block.green()), over(0.314, block.blue()));
  // On screen first, as the user sees it: the engine's camera in the preview, the stroke.
  QQuickItem* camera = find(bubble, QStringLiteral("cameraSurface"));
  ASSERT_TRUE(testing::spinUntil([&] { return camera->property("hasPicture").toBool(); }));
  ASSERT_TRUE(testing::spinUntil([&] { return near(screenPixel(inStroke), highlighted, 4); }))
      << text(screenPixel(inStroke)) << " for " << text(highlighted);
  double shownAt = 0;
  ASSERT_TRUE(testing::spinUntil([&] {
    clock->advance(0.25);
    shownAt = model->recording().elapsed();
    return shownAt > 0;
  }));
  ASSERT_TRUE(testing::spinUntil([&] {
    clock->advance(0.25);
    return model->recording().elapsed() >= shownAt + 2.5;
  }));
  const QRect pillArea = pill.geometry();
  const QRect toolbarArea = toolbar.geometry();
  const QRect previewArea = bubble.geometry();
  model->recording().stopRecording();
  ASSERT_TRUE(reachPhase(QStringLiteral("idle")));

  const auto item = model->services().vault()->item(itemID);
  ASSERT_TRUE(item.has_value()) << itemID;
  const std::string rgb = testing::movieFrameRGB(item->directory / item->manifest.fileName, shownAt + 1.5);
  ASSERT_EQ(rgb.size(), std::size_t{1920 * 1080 * 3}) << "a full-size frame";
  const QImage frame =
      QImage(reinterpret_cast<const uchar*>(rgb.data()), 1920, 1080, 1920 * 3, QImage::Format_RGB888).copy();
  frame.save(QString::fromStdString((testing::screenshotDirectory() / "overlay-recorded-frame.png").string()));

  // The encoder's round trip on the same block away from the stroke: the tolerances below
  // stand well clear of it.
  const QColor plain = meanColor(frame, QRect(780, 600, 120, 100));
  EXPECT_TRUE(near(plain, block, 2)) << text(plain);

  // 1. Where the pill and the toolbar are, the blocks beneath them.
  for (const QRect& area : {pillArea, toolbarArea}) {
    int differing = 0;
    QPoint first;
    for (int y = area.top(); y <= area.bottom(); y += 2) {
      for (int x = area.left(); x <= area.right(); x += 2) {
        const QPoint at(x, y);
        if (!BlockPattern::isInsideBlock(at, 6) || near(frame.pixelColor(at), BlockPattern::colorAt(at), 12)) continue;
        if (differing++ == 0) first = at;
      }
    }
    EXPECT_EQ(differing, 0) << "first at " << first.x() << "," << first.y() << ": " << text(frame.pixelColor(first));
  }

  // 2. The bubble once: where the layout puts it, the camera's six middle bars mirrored
  // (blue, its rightmost, on the left) ...
  const Rect drawn = layout.rect({1920, 1080});
  const QPoint centre(360, 360);
  const std::array<QColor, 6> bars = {QColor(0, 0, 255),   QColor(255, 0, 0),   QColor(255, 0, 255),
                                      QColor(0, 255, 0),   QColor(0, 255, 255), QColor(255, 255, 0)};
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const QPoint at(qRound(drawn.x + (static_cast<double>(i) + 0.5) * drawn.width / 6), centre.y());
    const QColor seen = meanColor(frame, QRect(at - QPoint(1, 1), QSize(3, 3)));
    EXPECT_TRUE(near(seen, bars[i], 30)) << "bar " << i << ": " << text(seen);
  }
  // ... and around it, within the preview panel's square, the block: no second picture,
  // ring or shadow.
  for (int degrees = 0; degrees < 360; degrees += 45) {
    for (double radius : {drawn.width / 2 + 6, 66.0}) {
      const double angle = degrees * M_PI / 180;
      const QPoint at = centre + QPoint(qRound(radius * std::cos(angle)), qRound(radius * std::sin(angle)));
      ASSERT_TRUE(previewArea.contains(at));
      const QColor seen = meanColor(frame, QRect(at - QPoint(1, 1), QSize(3, 3)));
      EXPECT_TRUE(near(seen, BlockPattern::colorAt(at), 10)) << degrees << "° at " << radius << ": " << text(seen);
    }
  }

  // 3. The highlighter over the block, once.
  const QColor inked = meanColor(frame, QRect(800, 530, 100, 20));
  EXPECT_TRUE(near(inked, highlighted, 6)) << text(inked) << " for " << text(highlighted);
  overlays.reset();
}

}  // namespace
}  // namespace tolvane
