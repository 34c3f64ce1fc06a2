// Runs the X11 backends against a private Xvfb server, with the test playing the client
// applications and the window manager.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <nlohmann/json.hpp>

#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"
#include "app/capture/sources/x11_top_level_windows.h"
#include "app/capture/sources/x11_screen_source.h"
#include "app/capture/sources/x11_window_source.h"
#include "tests/app/capture/sources/source_test_support.h"
#include "tests/app/x11_test_desktop.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

// Windows name only the fields that matter to each case; the rest keep defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tolvane {
namespace {

using Kind = CaptureSourceError::Kind;
constexpr std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF;

// What a frame showed at a few points; frames themselves go straight back to the pool.
struct FrameSample {
  FrameStatus status;
  double hostTime;
  int width;
  int height;
  std::vector<std::uint32_t> colors;  // 0xRRGGBB at each probe point
};

bool isComplete(const FrameSample& s) { return s.status == FrameStatus::complete; }
auto showing(std::uint32_t color) {
  return [color](const FrameSample& s) { return isComplete(s) && s.colors[0] == color; };
}

// Runs a source, sampling what each frame shows at `points`, until the probe goes away.
class FrameProbe {
 public:
  FrameProbe(ScreenSource& source, std::vector<std::pair<int, int>> points) : source_(source) {
    source.start(
        [this, points](const ScreenFrame& frame) {
          FrameSample sample{frame.status, frame.hostTime, frame.image.width(), frame.image.height(), {}};
          for (auto [x, y] : isComplete(sample) ? points : std::vector<std::pair<int, int>>{}) {
            const std::uint8_t* p = frame.image.pixel(x, y);
            sample.colors.push_back((std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0]);
          }
          frames.add(std::move(sample));
        },
        failures.handler());
  }
  ~FrameProbe() { source_.stop(); }
  // The first frame after the one the last wait found that satisfies `predicate`.
  std::optional<FrameSample> waitFor(const std::function<bool(const FrameSample&)>& predicate) {
    std::optional<FrameSample> found;
    frames.waitUntil([&](const std::vector<FrameSample>& all) {
      for (; last_ < all.size() && !found; ++last_) found = predicate(all[last_]) ? std::optional(all[last_]) : found;
      return found.has_value();
    });
    return found;
  }

  testing::SourceCollector<FrameSample> frames;
  testing::SourceCollector<std::string> failures;

 private:
  ScreenSource& source_;
  std::size_t last_ = 0;
};

// Stand-ins for Tolvane's floating panels and for other clients' windows, made the way
// the panels are: override-redirect top-levels, translucent ones with a 32-bit visual,
// marked with the exclusion property. Each shows a pixmap as its background, so the
// server keeps it painted without a client answering exposures.
class StandIns {
 public:
  explicit StandIns(X11Connection& connection) : x_(connection), display_(connection.display()) {
    XVisualInfo info{};
    XMatchVisualInfo(display_, DefaultScreen(display_), 32, TrueColor, &info);
    argbVisual_ = info.visual;
    argbColormap_ = XCreateColormap(display_, x_.root(), argbVisual_, AllocNone);
  }
  // `pixels` are premultiplied 0xAARRGGBB for a translucent window, 0xRRGGBB otherwise;
  // `marks` (x, y, width, height, pixel) paint over the first one.
  ::Window create(int x, int y, int width, int height, bool translucent, bool excluded,
                  std::vector<std::tuple<int, int, int, int, unsigned long>> marks, ::Window parent = 0) {
    const int depth = translucent ? 32 : DefaultDepth(display_, DefaultScreen(display_));
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.border_pixel = 0;
    attributes.colormap = translucent ? argbColormap_ : DefaultColormap(display_, DefaultScreen(display_));
    ::Pixmap picture = XCreatePixmap(display_, x_.root(), width, height, depth);
    GC gc = XCreateGC(display_, picture, 0, nullptr);
    for (auto [mx, my, mw, mh, pixel] : marks) {
      XSetForeground(display_, gc, pixel);
      XFillRectangle(display_, picture, gc, mx, my, mw, mh);
    }
    XFreeGC(display_, gc);
    attributes.background_pixmap = picture;
    ::Window window = XCreateWindow(display_, parent != 0 ? parent : x_.root(), x, y, width, height, 0, depth,
                                    InputOutput, translucent ? argbVisual_ : CopyFromParent,
                                    CWOverrideRedirect | CWBorderPixel | CWColormap | CWBackPixmap, &attributes);
    XFreePixmap(display_, picture);
    if (excluded) {
      const unsigned long one = 1;
      XChangeProperty(display_, window, x_.atom(X11TopLevelWindows::kExcludedProperty), XA_CARDINAL, 32,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(&one), 1);
    }
    XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }
  // What a panel says it shows, as x, y, width, height each, in its own pixels.
  void publishAreas(::Window window, std::vector<unsigned long> areas) {
    XChangeProperty(display_, window, x_.atom(X11TopLevelWindows::kExcludedAreasProperty), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(areas.data()),
                    static_cast<int>(areas.size()));
    XSync(display_, False);
  }
  // The root as it shows on screen now, at (x, y), as 0xRRGGBB.
  std::uint32_t onScreen(int x, int y) {
    XImage* image = XGetImage(display_, x_.root(), x, y, 1, 1, AllPlanes, ZPixmap);
    const auto pixel = static_cast<std::uint32_t>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return pixel;
  }
  void setWallpaper(unsigned long color) {
    ::Pixmap tile = XCreatePixmap(display_, x_.root(), 8, 8, DefaultDepth(display_, DefaultScreen(display_)));
    GC gc = XCreateGC(display_, tile, 0, nullptr);
    XSetForeground(display_, gc, color);
    XFillRectangle(display_, tile, gc, 0, 0, 8, 8);
    XFreeGC(display_, gc);
    XChangeProperty(display_, x_.root(), x_.atom("_XROOTPMAP_ID"), XA_PIXMAP, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&tile), 1);
    XSetWindowBackgroundPixmap(display_, x_.root(), tile);
    XClearWindow(display_, x_.root());
    XSync(display_, False);
  }

 private:
  X11Connection& x_;
  ::Display* display_;
  ::Visual* argbVisual_ = nullptr;
  ::Colormap argbColormap_ = 0;
};

// One channel of `over` at `alpha` (premultiplied) over `under`, as 0xRRGGBB.
std::uint32_t blend(std::uint32_t premultiplied, int alpha, std::uint32_t under) {
  std::uint32_t out = 0;
  for (int shift : {0, 8, 16}) {
    const int top = static_cast<int>((premultiplied >> shift) & 0xFF);
    const int below = static_cast<int>((under >> shift) & 0xFF);
    out |= static_cast<std::uint32_t>(top + (below * (255 - alpha) + 127) / 255) << shift;
  }
  return out;
}

bool near(std::uint32_t a, std::uint32_t b) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 2) return false;
  }
  return true;
}

class X11SourcesTest : public ::testing::Test {
 protected:
  testing::XvfbServer xvfb;
  testing::TestDesktop desktop{xvfb.displayName()};

  std::uint32_t mainDisplayID() {
    X11Connection connection(xvfb.displayName());
    return X11ContentReader(connection).displays().at(0).displayID;
  }
  // Polls the server-side state `done` reads, for at most 20 s.
  static bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      if (done()) return true;
    }
    return false;
  }
  X11ScreenSource screen(int width, int height) {
    return X11ScreenSource(xvfb.displayName(), mainDisplayID(), ScreenCaptureSettings{width, height, 30, true});
  }
};

TEST_F(X11SourcesTest, TheMonitorAndTheRecordableWindowsAreListedInTheCatalogAndByTheCommandLine) {
  desktop.create({.x = 10, .y = 20, .applicationClass = "beta", .netTitle = "Beta One", .pid = 1001});
  desktop.create({.applicationClass = "alpha", .netTitle = "Ünïcode ✓", .wmName = "ignored", .pid = 1002});
  desktop.create({.applicationClass = "Tolvane", .netTitle = "Controls", .pid = getpid()});
  desktop.create({.applicationClass = "hidden", .netTitle = "Unmapped", .pid = 1004, .mapped = false});
  desktop.create({.width = 121, .height = 121, .applicationClass = "gamma", .pid = 1005});
  desktop.create({.applicationClass = "beta", .wmName = "Beta Two", .pid = 1001});
  desktop.create({.width = 120, .applicationClass = "edge", .pid = 1006});   // 120 wide: too narrow
  desktop.create({.height = 120, .applicationClass = "edge", .pid = 1006});  // 120 tall: too low

  SystemSourceCatalog catalog(xvfb.displayName());
  auto content = CaptureSources::shareableContent(catalog);
  ASSERT_EQ(content.displays.size(), 1u);
  EXPECT_EQ(content.displays[0], CaptureTarget::display(mainDisplayID(), "Main display", 1920, 1080));
  std::vector<std::string> labels;
  for (const auto& target : content.windows) labels.push_back(target.label());
  EXPECT_EQ(labels, (std::vector<std::string>{"alpha \u2014 Ünïcode ✓", "beta \u2014 Beta One",
                                              "beta \u2014 Beta Two", "gamma"}));

  const std::string cli = testing::builtProgram("app/cli/tolvane-cli").string();
  std::map<std::string, std::string> env{{"DISPLAY", xvfb.displayName()}, {"PULSE_SERVER", "unix:/nonexistent/pulse"}};
  auto json = nlohmann::json::parse(testing::runCommand({cli, "sources", "--json"}, env).out);
  // The command line is another process: the test's own "Tolvane" window is listed there,
  // first in plain byte order.
  EXPECT_EQ(json["windows"][0]["label"], "Tolvane \u2014 Controls");
  EXPECT_EQ(json["microphones"], nlohmann::json::array());
  auto text = testing::runCommand({cli, "sources"}, env);
  EXPECT_NE(text.out.find("Main display  1920\u00d71080"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("synthetic-screen"), std::string::npos) << text.out;
  env["TOLVANE_TEST_SOURCES"] = "";  // the test sources are for tests only
  EXPECT_EQ(testing::runCommand({cli, "sources"}, env).out.find("synthetic"), std::string::npos);

  std::string nowhere = testing::XvfbServer::unusedDisplayName();
  auto failed = testing::runCommand({cli, "sources"}, {{"DISPLAY", nowhere}});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "tolvane-cli: Tolvane couldn't open the X display \"" + nowhere + "\"; is an X session running?\n");
}

TEST_F(X11SourcesTest, TheScreenScaledAndACoveredWindowShowChangesGoIdleAndEndWhenClosedOrTheServerGoesAway) {
  const auto covered = desktop.create({.x = 200, .y = 200, .width = 300, .height = 200, .color = green});
  const auto top = desktop.create({.x = 100, .y = 100, .width = 600, .height = 500, .color = blue});
  // On a half-size screen (175, 150) is (350, 300): the window on top.
  auto halfSize = screen(960, 540);
  FrameProbe probe(halfSize, {{175, 150}, {5, 5}});
  auto first = probe.waitFor(showing(blue));
  ASSERT_TRUE(first) << "no frame showed the blue window";
  EXPECT_NE(first->colors[1], blue);
  // Nothing moves: deliveries continue, as idle frames without pictures.
  ASSERT_TRUE(probe.waitFor([](const FrameSample& s) { return s.status == FrameStatus::idle; }))
      << "a static screen never reported an idle frame";
  desktop.fill(top, red);
  ASSERT_TRUE(probe.waitFor(showing(red))) << "the change to red was never delivered";

  X11WindowSource windowSource(xvfb.displayName(), static_cast<std::uint32_t>(covered), {300, 200, 30, false});
  FrameProbe windowProbe(windowSource, {{150, 100}, {5, 5}, {295, 195}});
  auto frame = windowProbe.waitFor(isComplete);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->colors, (std::vector<std::uint32_t>{green, green, green}));
  desktop.fill(covered, red);
  EXPECT_TRUE(windowProbe.waitFor(showing(red)));
  desktop.destroy(covered);
  EXPECT_EQ(windowProbe.failures.items(1), std::vector<std::string>{"That window has closed."});
  EXPECT_EQ(testing::sourceError([&] { X11ScreenSource gone(xvfb.displayName(), 4242, {1920, 1080, 30, true}); }),
            std::pair(Kind::targetGone, std::string("That display isn't available any more.")));

  xvfb.stop();  // ends the screen source, not the process
  EXPECT_EQ(probe.failures.items(1), std::vector<std::string>{"Tolvane lost the connection to the X server."});
  auto samples = probe.frames.items();
  for (std::size_t i = 1; i < samples.size(); ++i) EXPECT_GT(samples[i].hostTime, samples[i - 1].hostTime);
  for (const auto& s : samples) EXPECT_EQ(std::pair(s.width, s.height), isComplete(s) ? std::pair(960, 540) : std::pair(0, 0));
}

TEST_F(X11SourcesTest, StoppingWhileTheServerDoesNotAnswerCutsTheConnectionInsteadOfWaitingForIt) {
  auto source = screen(960, 540);
  FrameProbe probe(source, {{5, 5}});
  ASSERT_TRUE(probe.waitFor(isComplete));
  xvfb.signal(SIGSTOP);
  // Not a timing assumption: the next tick's first round trip then waits on the server.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto began = std::chrono::steady_clock::now();
  source.stop();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  std::cout << "stopping the screen of a stopped X server took " << took.count() << " s\n";
  EXPECT_EQ(probe.failures.items(1), std::vector<std::string>{"Tolvane lost the connection to the X server."});
  xvfb.signal(SIGCONT);
}

// The compositing manager to start, as a command line: each paints the screen its own way.
class X11CompositedSourcesTest : public X11SourcesTest,
                                 public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(X11CompositedSourcesTest, OurPanelsAreLeftOutOfTheScreenAndAWindowShowsOnlyItself) {
  constexpr std::uint32_t wallpaper = 0x304050, left = 0xC02020, right = 0x20A020, magenta = 0xFF00FF;
  X11Connection x(xvfb.displayName());
  StandIns standIns(x);
  standIns.setWallpaper(wallpaper);
  const auto leftWindow = desktop.create({.x = 100, .y = 100, .width = 500, .height = 400, .color = left});
  const auto rightWindow = desktop.create({.x = 600, .y = 100, .width = 500, .height = 400, .color = right});
  // Someone else's translucent window: blended over what lies below, in and out of a panel.
  constexpr std::uint32_t halfBlue = 0x80000080;
  standIns.create(250, 250, 100, 100, true, false, {{0, 0, 100, 100, halfBlue}});
  // The pill, as a client inside a frame of a reparenting window manager, over both
  // windows and the desktop.
  const auto pillFrame = standIns.create(500, 450, 200, 100, false, false, {{0, 0, 200, 100, magenta}});
  standIns.create(0, 0, 200, 100, false, true, {{0, 0, 200, 100, magenta}}, pillFrame);
  // The bubble preview: a translucent white disc's square, shaped to a cross around it.
  const auto bubble = standIns.create(300, 200, 200, 200, true, true, {{0, 0, 200, 200, 0x80808080}});
  std::vector<XRectangle> cross{{0, 40, 200, 120}, {40, 0, 120, 200}};
  XShapeCombineRectangles(x.display(), bubble, ShapeBounding, 0, 0, cross.data(), 2, ShapeSet, Unsorted);
  // The canvas: clear (as good as) everywhere but one highlighter stroke at alpha 0.38,
  // which it says is all it shows.
  constexpr int strokeAlpha = 97;  // 0.38 × 255
  constexpr std::uint32_t strokeYellow = 0x61616100;
  const auto canvas = standIns.create(0, 0, 1920, 1080, true, true, {{800, 200, 200, 40, strokeYellow}});
  standIns.publishAreas(canvas, {798, 198, 204, 44});

  const std::vector<std::pair<int, int>> points{{550, 470}, {650, 470}, {600, 530}, {400, 380}, {270, 270},
                                                {320, 320}, {900, 220}, {850, 170}, {1050, 300}};
  const std::uint32_t blueOverLeft = blend(0x000080, 0x80, left);
  std::vector<std::uint32_t> beneath{left, right, wallpaper, left, blueOverLeft, blueOverLeft, right, right, right};

  // Without a compositing manager the panels stay in the picture, as on screen, where the
  // canvas on top shows its pixels as they are.
  auto source = screen(1920, 1080);
  FrameProbe probe(source, points);
  ASSERT_TRUE(probe.waitFor([&](const FrameSample& s) { return isComplete(s) && s.colors[6] == 0x616100; }));

  // One starts while recording: the stand-ins show on the screen, blended by it...
  testing::TempDir dir;
  testing::ChildProcess compositor(GetParam(), {{"DISPLAY", xvfb.displayName()}}, dir.path() / "compositor.log");
  ASSERT_TRUE(eventually([&] { return XGetSelectionOwner(x.display(), x.atom("_NET_WM_CM_S0")) != 0; }));
  ASSERT_TRUE(eventually([&] { return near(standIns.onScreen(900, 220), blend(0x616100, strokeAlpha, right)); }))
      << std::hex << standIns.onScreen(900, 220);
  EXPECT_EQ(standIns.onScreen(550, 470), magenta);
  // ...and not in the recording, which shows what lies under them.
  auto erased = probe.waitFor([&](const FrameSample& s) { return isComplete(s) && s.colors == beneath; });
  ASSERT_TRUE(erased) << "no frame showed what lies under the panels";

  // A change under the canvas shows, where it says it shows nothing as well as under
  // the stroke; and what it says it shows is what is left out.
  constexpr std::uint32_t teal = 0x208080;
  desktop.fill(rightWindow, teal);
  std::replace(beneath.begin(), beneath.end(), right, teal);
  EXPECT_TRUE(probe.waitFor([&](const FrameSample& s) { return isComplete(s) && s.colors == beneath; }))
      << "the change under the canvas never showed";
  standIns.publishAreas(canvas, {});
  EXPECT_TRUE(probe.waitFor([&](const FrameSample& s) {
    return isComplete(s) && near(s.colors[6], blend(0x616100, strokeAlpha, teal)) && s.colors[8] == teal;
  })) << "the canvas's areas were not read again";

  // With the canvas gone, only the smaller panels' rectangles are painted again; one that
  // moves is left out where it went, from the first frame that shows the move.
  XUnmapWindow(x.display(), canvas);
  XSync(x.display(), False);
  ASSERT_TRUE(probe.waitFor([](const FrameSample& s) { return s.status == FrameStatus::idle; }));
  XMoveWindow(x.display(), pillFrame, 800, 150);
  XSync(x.display(), False);
  for (int frame = 0; frame < 3; ++frame) {
    auto moved = probe.waitFor(isComplete);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->colors, beneath) << "frame " << frame << " after the move";
  }

  // A window recording reads the window's own pixmap: the bubble over it never shows.
  X11WindowSource windowSource(xvfb.displayName(), static_cast<std::uint32_t>(leftWindow), {500, 400, 30, false});
  FrameProbe windowProbe(windowSource, {{300, 200}, {220, 170}});
  EXPECT_TRUE(windowProbe.waitFor([&](const FrameSample& s) {
    return isComplete(s) && s.colors == std::vector<std::uint32_t>{left, left};
  }));

  // A change of a window under a panel is in the recording too, once the compositing
  // manager shows it.
  desktop.fill(leftWindow, blue);
  EXPECT_TRUE(probe.waitFor([&](const FrameSample& s) { return isComplete(s) && s.colors[3] == blue; }));
  EXPECT_TRUE(probe.failures.items().empty());
}

INSTANTIATE_TEST_SUITE_P(UnderACompositor, X11CompositedSourcesTest,
                         ::testing::Values(std::vector<std::string>{"xcompmgr"},
                                           std::vector<std::string>{"picom", "--backend", "xrender", "--config",
                                                                    "/dev/null"}),
                         [](const auto& compositor) { return compositor.param.front(); });

}  // namespace
}  // namespace tolvane
