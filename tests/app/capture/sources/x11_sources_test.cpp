// Runs the X11 backends against a private Xvfb server. Xvfb has no window manager, so the
// test plays its part: it creates top-level windows with the properties a client sets
// (WM_CLASS, _NET_WM_NAME, _NET_WM_PID) and publishes _NET_CLIENT_LIST on the root window.
// gtest first: Xlib's None and Bool macros would break its declarations.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"
#include "app/capture/sources/x11_screen_source.h"
#include "app/capture/sources/x11_window_source.h"
#include "tests/support/child_process.h"
#include "tests/support/xvfb_server.h"

// Window specs name only the fields that matter to each case; the rest keep defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

constexpr unsigned long red = 0xFF0000;
constexpr unsigned long green = 0x00FF00;
constexpr unsigned long blue = 0x0000FF;
constexpr unsigned long white = 0xFFFFFF;

// Plays the client applications and the window manager.
class TestDesktop {
 public:
  explicit TestDesktop(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) {
    if (display_ == nullptr) throw std::runtime_error("cannot open " + displayName);
    // Some cases stop the server under the test; this connection then just goes quiet.
    XSetIOErrorExitHandler(display_, [](::Display*, void*) {}, nullptr);
  }
  ~TestDesktop() { XCloseDisplay(display_); }

  struct Spec {
    int x = 0, y = 0, width = 400, height = 300;
    unsigned long color = red;
    std::string applicationClass = "app";
    std::optional<std::string> netTitle;  // _NET_WM_NAME (UTF-8)
    std::optional<std::string> wmName;    // WM_NAME
    pid_t pid = 1;
    bool mapped = true;
  };

  ::Window create(const Spec& spec) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = spec.color;
    attributes.override_redirect = False;
    ::Window window = XCreateWindow(display_, DefaultRootWindow(display_), spec.x, spec.y,
                                    static_cast<unsigned>(spec.width), static_cast<unsigned>(spec.height), 0,
                                    CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &attributes);
    std::string instance = spec.applicationClass;
    XClassHint hint{instance.data(), instance.data()};
    XSetClassHint(display_, window, &hint);
    if (spec.netTitle) {
      XChangeProperty(display_, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(spec.netTitle->data()),
                      static_cast<int>(spec.netTitle->size()));
    }
    if (spec.wmName) XStoreName(display_, window, spec.wmName->c_str());
    long pid = spec.pid;
    XChangeProperty(display_, window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    if (spec.mapped) XMapWindow(display_, window);
    clients_.push_back(window);
    publishClientList();
    return window;
  }

  void fill(::Window window, unsigned long color) {
    XSetWindowBackground(display_, window, color);
    XClearWindow(display_, window);
    XSync(display_, False);
  }

  void destroy(::Window window) {
    XDestroyWindow(display_, window);
    std::erase(clients_, window);
    publishClientList();
  }

  void warpPointer(int x, int y) {
    XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
    XSync(display_, False);
  }

 private:
  ::Atom atom(const char* name) { return XInternAtom(display_, name, False); }

  void publishClientList() {
    std::vector<long> ids(clients_.begin(), clients_.end());
    XChangeProperty(display_, DefaultRootWindow(display_), atom("_NET_CLIENT_LIST"), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(ids.data()), static_cast<int>(ids.size()));
    XSync(display_, False);
  }

  ::Display* display_;
  std::vector<::Window> clients_;
};

// What a frame showed at a few points; frames themselves go straight back to the pool.
struct FrameSample {
  FrameStatus status;
  double hostTime;
  int width;
  int height;
  std::vector<std::uint32_t> colors;  // 0xRRGGBB at each probe point
};

class FrameProbe {
 public:
  explicit FrameProbe(std::vector<std::pair<int, int>> points) : points_(std::move(points)) {}

  ScreenSource::FrameHandler handler() {
    return [this](const ScreenFrame& frame) {
      FrameSample sample{frame.status, frame.hostTime, frame.image.width(), frame.image.height(), {}};
      if (frame.status == FrameStatus::complete) {
        for (auto [x, y] : points_) {
          const std::uint8_t* p = frame.image.pixel(x, y);
          sample.colors.push_back((std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0]);
        }
      }
      std::lock_guard lock(mutex_);
      samples_.push_back(std::move(sample));
      changed_.notify_all();
    };
  }
  ScreenSource::FailureHandler failureHandler() {
    return [this](const std::string& message) {
      std::lock_guard lock(mutex_);
      failure_ = message;
      changed_.notify_all();
    };
  }

  // Waits until a sample after index `from` satisfies `predicate`; returns its index.
  std::optional<std::size_t> waitFor(std::size_t from, const std::function<bool(const FrameSample&)>& predicate) {
    std::unique_lock lock(mutex_);
    std::optional<std::size_t> found;
    changed_.wait_for(lock, 20s, [&] {
      for (std::size_t i = from; i < samples_.size(); ++i) {
        if (predicate(samples_[i])) {
          found = i;
          return true;
        }
      }
      return false;
    });
    return found;
  }
  std::optional<std::string> waitForFailure() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 20s, [&] { return failure_.has_value(); });
    return failure_;
  }
  std::vector<FrameSample> samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }

 private:
  std::vector<std::pair<int, int>> points_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FrameSample> samples_;
  std::optional<std::string> failure_;
};

bool isComplete(const FrameSample& s) { return s.status == FrameStatus::complete; }

class X11SourcesTest : public ::testing::Test {
 protected:
  testing::XvfbServer xvfb;
  TestDesktop desktop{xvfb.displayName()};

  std::uint32_t mainDisplayID() {
    X11Connection connection(xvfb.displayName());
    return X11ContentReader(connection).displays().at(0).displayID;
  }
};

TEST_F(X11SourcesTest, ListsTheMonitorAndTheRecordableWindows) {
  desktop.create({.x = 10, .y = 20, .applicationClass = "beta", .netTitle = "Beta One", .pid = 1001});
  desktop.create({.applicationClass = "alpha", .netTitle = "Ünïcode ✓", .wmName = "ignored", .pid = 1002});
  desktop.create({.applicationClass = "Tolvane", .netTitle = "Controls", .pid = getpid()});
  desktop.create({.width = 100, .height = 600, .applicationClass = "palette", .pid = 1003});
  desktop.create({.applicationClass = "hidden", .netTitle = "Unmapped", .pid = 1004, .mapped = false});
  desktop.create({.width = 121, .height = 121, .applicationClass = "gamma", .pid = 1005});
  desktop.create({.applicationClass = "beta", .wmName = "Beta Two", .pid = 1001});

  SystemSourceCatalog catalog(xvfb.displayName());
  auto content = CaptureSources::shareableContent(catalog);
  ASSERT_EQ(content.displays.size(), 1u);
  EXPECT_EQ(content.displays[0].label(), "Main display");
  EXPECT_EQ(std::pair(content.displays[0].width(), content.displays[0].height()), std::pair(1920, 1080));
  EXPECT_EQ(content.displays[0].id(), "display-" + std::to_string(mainDisplayID()));

  std::vector<std::string> labels;
  for (const auto& target : content.windows) labels.push_back(target.label());
  EXPECT_EQ(labels, (std::vector<std::string>{"alpha \u2014 Ünïcode ✓", "beta \u2014 Beta One",
                                              "beta \u2014 Beta Two", "gamma"}));
  EXPECT_EQ(std::pair(content.windows[1].width(), content.windows[1].height()), std::pair(400, 300));

  // The raw listing still has everything, with what the filter decided on.
  X11Connection connection(xvfb.displayName());
  auto windows = X11ContentReader(connection).windows();
  ASSERT_EQ(windows.size(), 7u);
  EXPECT_EQ(std::pair(windows[0].x, windows[0].y), std::pair(10, 20));
  EXPECT_EQ(windows[0].owningApplication, (OwningApplication{1001, "beta"}));
  EXPECT_FALSE(windows[4].isOnScreen);
  EXPECT_TRUE(windows[3].isOnScreen);
}

TEST_F(X11SourcesTest, ScreenFramesShowTheDrawnContentAndGoIdleWhileNothingChanges) {
  ::Window window = desktop.create({.x = 100, .y = 100, .color = red});
  X11ScreenSource source(xvfb.displayName(), mainDisplayID(), ScreenCaptureSettings{1920, 1080, 30, false});
  FrameProbe probe({{300, 250}, {5, 5}});
  source.start(probe.handler(), probe.failureHandler());

  auto first = probe.waitFor(0, [](const FrameSample& s) { return isComplete(s) && s.colors[0] == red; });
  ASSERT_TRUE(first) << "no frame showed the red window";
  EXPECT_NE(probe.samples()[*first].colors[1], red);

  // Nothing moves: deliveries continue, as idle frames without pictures.
  auto idle = probe.waitFor(*first + 1, [](const FrameSample& s) { return s.status == FrameStatus::idle; });
  ASSERT_TRUE(idle) << "a static screen never reported an idle frame";

  desktop.fill(window, blue);
  auto changed = probe.waitFor(*idle, [](const FrameSample& s) { return isComplete(s) && s.colors[0] == blue; });
  ASSERT_TRUE(changed) << "the change to blue was never delivered";
  source.stop();

  auto samples = probe.samples();
  for (std::size_t i = 1; i < samples.size(); ++i) EXPECT_GT(samples[i].hostTime, samples[i - 1].hostTime);
  // Idle deliveries carry no picture; complete ones the full output size.
  for (const auto& s : samples) EXPECT_EQ(std::pair(s.width, s.height), isComplete(s) ? std::pair(1920, 1080) : std::pair(0, 0));
}

TEST_F(X11SourcesTest, ThePointerIsDrawnIntoScreenFramesWhenAskedFor) {
  desktop.create({.x = 500, .y = 300, .width = 300, .height = 200, .color = white});
  desktop.warpPointer(650, 400);
  std::vector<std::pair<int, int>> around;
  for (int dy = -8; dy <= 8; ++dy) {
    for (int dx = -8; dx <= 8; ++dx) around.emplace_back(650 + dx, 400 + dy);
  }
  auto touchesCursor = [](const FrameSample& s) {
    return std::any_of(s.colors.begin(), s.colors.end(), [](std::uint32_t c) { return c != white; });
  };
  for (bool showsCursor : {false, true}) {
    X11ScreenSource source(xvfb.displayName(), mainDisplayID(), ScreenCaptureSettings{1920, 1080, 30, showsCursor});
    FrameProbe probe(around);
    source.start(probe.handler(), probe.failureHandler());
    auto frame = probe.waitFor(0, isComplete);
    source.stop();
    ASSERT_TRUE(frame);
    EXPECT_EQ(touchesCursor(probe.samples()[*frame]), showsCursor) << "showsCursor " << showsCursor;
  }
}

TEST_F(X11SourcesTest, AWindowIsRecordedEvenWhenCoveredAndTheScreenScaledToTheOutputSize) {
  ::Window covered = desktop.create({.x = 200, .y = 200, .width = 300, .height = 200, .color = green});
  desktop.create({.x = 100, .y = 100, .width = 600, .height = 500, .color = blue});

  X11WindowSource windowSource(xvfb.displayName(), static_cast<std::uint32_t>(covered),
                               ScreenCaptureSettings{300, 200, 30, false});
  FrameProbe windowProbe({{150, 100}, {5, 5}, {295, 195}});
  windowSource.start(windowProbe.handler(), windowProbe.failureHandler());
  auto frame = windowProbe.waitFor(0, isComplete);
  ASSERT_TRUE(frame);
  EXPECT_EQ(windowProbe.samples()[*frame].colors, (std::vector<std::uint32_t>{green, green, green}));

  // On a half-size screen the same spot, (350, 300), shows the window on top.
  X11ScreenSource screen(xvfb.displayName(), mainDisplayID(), ScreenCaptureSettings{960, 540, 30, false});
  FrameProbe screenProbe({{175, 150}});
  screen.start(screenProbe.handler(), screenProbe.failureHandler());
  auto screenFrame = screenProbe.waitFor(0, isComplete);
  screen.stop();
  ASSERT_TRUE(screenFrame);
  EXPECT_EQ(screenProbe.samples()[*screenFrame].colors[0], blue);
  EXPECT_EQ(screenProbe.samples()[*screenFrame].width, 960);
  EXPECT_EQ(screenProbe.samples()[*screenFrame].height, 540);

  // A change to the covered window still arrives.
  desktop.fill(covered, red);
  EXPECT_TRUE(windowProbe.waitFor(*frame, [](const FrameSample& s) { return isComplete(s) && s.colors[0] == red; }));
  windowSource.stop();
}

TEST_F(X11SourcesTest, AWindowThatClosesEndsItsSourceAndCannotBeOpenedAgain) {
  ::Window window = desktop.create({.color = green});
  X11WindowSource source(xvfb.displayName(), static_cast<std::uint32_t>(window), ScreenCaptureSettings{400, 300, 30, false});
  FrameProbe probe({{10, 10}});
  source.start(probe.handler(), probe.failureHandler());
  ASSERT_TRUE(probe.waitFor(0, isComplete));
  desktop.destroy(window);
  EXPECT_EQ(probe.waitForFailure(), "That window has closed.");
  source.stop();

  try {
    X11WindowSource again(xvfb.displayName(), static_cast<std::uint32_t>(window), ScreenCaptureSettings{400, 300, 30, true});
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "That window has closed.");
    EXPECT_EQ(error.kind(), CaptureSourceError::Kind::targetGone);
  }
  try {
    X11ScreenSource screen(xvfb.displayName(), 4242, ScreenCaptureSettings{1920, 1080, 30, true});
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "That display isn't available any more.");
    EXPECT_EQ(error.kind(), CaptureSourceError::Kind::targetGone);
  }
}

TEST_F(X11SourcesTest, AServerThatGoesAwayEndsTheSourceWithoutEndingTheProcess) {
  desktop.create({.color = green});
  X11ScreenSource source(xvfb.displayName(), mainDisplayID(), ScreenCaptureSettings{1920, 1080, 30, true});
  FrameProbe probe({{10, 10}});
  source.start(probe.handler(), probe.failureHandler());
  ASSERT_TRUE(probe.waitFor(0, isComplete));
  xvfb.stop();
  EXPECT_EQ(probe.waitForFailure(), "Tolvane lost the connection to the X server.");
  source.stop();
}

TEST_F(X11SourcesTest, CommandLineListsSources) {
  desktop.create({.applicationClass = "Editor", .netTitle = "notes.txt", .pid = 1001});
  const std::string cli = testing::builtProgram("app/cli/tolvane-cli").string();
  std::map<std::string, std::string> env{{"DISPLAY", xvfb.displayName()}, {"PULSE_SERVER", "unix:/nonexistent/pulse"}};
  auto result = testing::runCommand({cli, "sources", "--json"}, env);
  ASSERT_EQ(result.status, 0) << result.err;
  auto json = nlohmann::json::parse(result.out);
  ASSERT_EQ(json["displays"].size(), 1u);
  EXPECT_EQ(json["displays"][0]["name"], "Main display");
  EXPECT_EQ(json["displays"][0]["width"], 1920);
  ASSERT_EQ(json["windows"].size(), 1u);
  EXPECT_EQ(json["windows"][0]["label"], "Editor \u2014 notes.txt");
  EXPECT_EQ(json["microphones"], nlohmann::json::array());
  EXPECT_EQ(json["synthetic"]["screen"], "synthetic-screen");

  auto text = testing::runCommand({cli, "sources"}, env);
  ASSERT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("Main display  1920\u00d71080"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Editor \u2014 notes.txt  400\u00d7300"), std::string::npos) << text.out;

  std::string nowhere = testing::XvfbServer::unusedDisplayName();
  auto failed = testing::runCommand({cli, "sources"}, {{"DISPLAY", nowhere}});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "tolvane-cli: Tolvane couldn't open the X display \"" + nowhere + "\"; is an X session running?\n");
}

}  // namespace
}  // namespace tolvane
