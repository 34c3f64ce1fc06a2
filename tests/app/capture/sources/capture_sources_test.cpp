#include "app/capture/sources/capture_sources.h"

#include <gtest/gtest.h>

#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/x11_connection.h"
#include "tests/app/capture/sources/source_test_support.h"
#include "tests/support/temp_dir.h"

// Which windows are offered, and in what order, is judged against a real X server in
// x11_sources_test.

namespace tolvane {
namespace {

constexpr pid_t ownPID = 4242;

class FakeCatalog : public SourceCatalog {
 public:
  ShareableContent content;
  ShareableContent shareableContent() override { return content; }
  std::vector<AudioDeviceOption> microphones() override { return {}; }
  std::vector<CameraOption> cameras() override { return {}; }
};

TEST(CaptureSourcesTest, DisplaysAreNamedByMonitorOrAsMainDisplayAndDisplayNAndIdenticalMonitorsApart) {
  FakeCatalog catalog;
  catalog.content.displays = {{300, "", 0, 0, 2560, 1440}, {301, "", 2560, 0, 1920, 1080}, {302, "LG HDR 4K", 0, 0, 3840, 2160},
                              {303, "DELL U2720Q", 0, 0, 3840, 2160}, {304, "DELL U2720Q", 0, 0, 3840, 2160}};
  auto content = CaptureSources::shareableContent(catalog, ownPID);
  ASSERT_EQ(content.displays.size(), 5u);
  EXPECT_EQ(content.displays[0], CaptureTarget::display(300, "Main display", 2560, 1440));
  EXPECT_EQ(content.displays[1], CaptureTarget::display(301, "Display 2", 1920, 1080));
  EXPECT_EQ(content.displays[2].label(), "LG HDR 4K");
  EXPECT_EQ(content.displays[3].label(), "DELL U2720Q (1)");
  EXPECT_EQ(content.displays[4].label(), "DELL U2720Q (2)");
  EXPECT_EQ(CaptureSources::distinctNames({"A", "B", "A", "C", "A"}),
            (std::vector<std::string>{"A (1)", "B", "A (2)", "C", "A (3)"}));
  EXPECT_EQ(content.displays[0].id(), "display-300");
  EXPECT_EQ(CaptureSources::displayName(catalog.content.displays, 99, 1), "Display 2");  // unknown id: by position
}

// A Wayland desktop is invisible to X: refused with what to do, never recorded black.
TEST(CaptureSourcesTest, AWaylandSessionIsRefusedAndTheTestSourcesNeedTheirSwitch) {
  const std::string refusal =
      "This is a Wayland session, and Tolvane can only record an X11 desktop (here it would record a black screen). "
      "Log out, pick the \"Xorg\" or \"X11\" session on the login screen, and log in again.";
  testing::ScopedEnv noX("DISPLAY", ":4711");  // no X server answers there
  struct Case { const char* sessionType; const char* waylandDisplay; bool refused; };
  for (auto [sessionType, waylandDisplay, refused] : {Case{"wayland", nullptr, true}, Case{"x11", "wayland-0", true},
                                                      Case{"x11", "", false}, Case{nullptr, "", false}}) {
    testing::ScopedEnv type("XDG_SESSION_TYPE", sessionType);
    testing::ScopedEnv wayland("WAYLAND_DISPLAY", waylandDisplay);
    EXPECT_EQ(unrecordableSessionReason(), refused ? std::optional(refusal) : std::nullopt) << waylandDisplay;
    EXPECT_EQ(unrecordableSessionReason(":4711"), std::nullopt);  // an X server chosen by name
  }
  testing::ScopedEnv type("XDG_SESSION_TYPE", "wayland");
  const ScreenCaptureSettings settings{640, 360, 30, false};
  EXPECT_EQ(testing::sourceError([&] { SystemSourceFactory().openScreen(CaptureTarget::display(1, "", 0, 0), settings); }),
            std::pair(CaptureSourceError::Kind::serverUnavailable, refusal));
  EXPECT_EQ(testing::sourceError([] { SystemSourceCatalog().shareableContent(); }).second, refusal);
  EXPECT_TRUE(SystemSourceFactory().openScreen(SyntheticSources::screenTarget(), settings));

  testing::ScopedEnv off("TOLVANE_TEST_SOURCES", nullptr);
  EXPECT_EQ(testing::sourceError([] { SystemSourceFactory().openMicrophone(std::string(SyntheticSources::toneID)); }),
            std::pair(CaptureSourceError::Kind::deviceUnavailable,
                      std::string("Tolvane's synthetic test sources are switched off; set TOLVANE_TEST_SOURCES=1 to use them.")));
}

}  // namespace
}  // namespace tolvane
