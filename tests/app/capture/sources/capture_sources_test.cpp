#include "app/capture/sources/capture_sources.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tolvane
