// Runs the X11 backends against a private Xvfb server, with the test playing the client
// applications and the window manager.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"
#include "app/capture/sources/x11_screen_source.h"
#include "app/capture/sources/x11_window_source.h"
#include "tests/app/capture/sources/source_test_support.h"
#include "tests/app/x11_test_desktop.h"
#include "tests/support/child_process.h"
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

class X11SourcesTest : public ::testing::Test {
 protected:
  testing::XvfbServer xvfb;
  testing::TestDesktop desktop{xvfb.displayName()};

  std::uint32_t mainDisplayID() {
    X11Connection connection(xvfb.displayName());
    return X11ContentReader(connection).displays().at(0).displayID;
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

}  // namespace
}  // namespace tolvane
