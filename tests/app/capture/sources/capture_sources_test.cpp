#include "app/capture/sources/capture_sources.h"

#include <gtest/gtest.h>

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

WindowInfo window(std::uint32_t id, std::string app, std::optional<std::string> title, int width = 800,
                  int height = 600, pid_t pid = 100, bool onScreen = true) {
  WindowInfo info;
  info.windowID = id;
  info.title = std::move(title);
  info.owningApplication = OwningApplication{pid, std::move(app)};
  info.width = width;
  info.height = height;
  info.isOnScreen = onScreen;
  return info;
}

TEST(CaptureSourcesTest, DisplaysAreNamedByMonitorOrAsMainDisplayAndDisplayN) {
  FakeCatalog catalog;
  catalog.content.displays = {{300, "", 0, 0, 2560, 1440}, {301, "", 2560, 0, 1920, 1080}, {302, "LG HDR 4K", 0, 0, 3840, 2160}};
  auto content = CaptureSources::shareableContent(catalog, ownPID);
  ASSERT_EQ(content.displays.size(), 3u);
  EXPECT_EQ(content.displays[0], CaptureTarget::display(300, "Main display", 2560, 1440));
  EXPECT_EQ(content.displays[1], CaptureTarget::display(301, "Display 2", 1920, 1080));
  EXPECT_EQ(content.displays[2].label(), "LG HDR 4K");
  EXPECT_EQ(content.displays[0].id(), "display-300");
  EXPECT_EQ(CaptureSources::displayName(catalog.content.displays, 99, 1), "Display 2");  // unknown id: by position
}

// What the real X server lists is judged in x11_sources_test; these are the edges.
TEST(CaptureSourcesTest, OtherProcessesOnScreenWindowsOverAHundredAndTwentyOrderedByApplication) {
  FakeCatalog catalog;
  WindowInfo noApplication = window(7, "x", "orphan");
  noApplication.owningApplication.reset();
  catalog.content.windows = {
      window(1, "beta", "b1"),
      window(2, "Tolvane", "Controls", 800, 600, ownPID),  // the recorder's own panel
      window(3, "Edge", "120 wide", 120, 400),
      window(4, "Edge", "120 tall", 400, 120),
      window(5, "Hidden", "minimised", 800, 600, 100, false),
      noApplication,
      window(11, "alpha", "a1", 121, 121),
      window(12, "beta", "b2"),
      window(13, "Zed", "z"),
      window(14, "alpha", std::nullopt, 640, 480),
  };
  auto content = CaptureSources::shareableContent(catalog, ownPID);
  // Plain byte comparison (upper case first), keeping the order within an application.
  std::vector<std::string> labels;
  for (const auto& target : content.windows) labels.push_back(target.id() + " " + target.label());
  EXPECT_EQ(labels, (std::vector<std::string>{"window-13 Zed \u2014 z", "window-11 alpha \u2014 a1", "window-14 alpha",
                                              "window-1 beta \u2014 b1", "window-12 beta \u2014 b2"}));
  EXPECT_EQ(content.windows[2], CaptureTarget::window(14, "", "alpha", 640, 480));
}

}  // namespace
}  // namespace tolvane
