#include "app/capture/sources/capture_sources.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/capture/sources/capture_source_error.h"

namespace tolvane {
namespace {

constexpr pid_t ownPID = 4242;

class FakeCatalog : public SourceCatalog {
 public:
  ShareableContent content;
  bool fails = false;

  ShareableContent shareableContent() override {
    if (fails) throw CaptureSourceError(CaptureSourceError::Kind::serverUnavailable, "no X");
    return content;
  }
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

std::vector<std::string> ids(const std::vector<CaptureTarget>& targets) {
  std::vector<std::string> result;
  for (const auto& t : targets) result.push_back(t.id());
  return result;
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
  EXPECT_EQ(CaptureSources::displayName({}, 1, 9), "Display 10");
}

TEST(CaptureSourcesTest, KeepsOnlyOtherProcessesOnScreenWindowsLargerThan120) {
  FakeCatalog catalog;
  WindowInfo noApplication = window(7, "x", "orphan");
  noApplication.owningApplication.reset();
  catalog.content.windows = {
      window(1, "Editor", "main.cpp"),
      window(2, "Tolvane", "Controls", 800, 600, ownPID),  // the recorder's own panel
      window(3, "Palette", "Tools", 100, 600),              // narrow tool strip
      window(4, "Tiny", "121", 121, 121),
      window(5, "Edge", "120 wide", 120, 400),
      window(6, "Hidden", "minimised", 800, 600, 100, false),
      noApplication,
      window(8, "Edge", "120 tall", 400, 120),
  };
  EXPECT_EQ(ids(CaptureSources::shareableContent(catalog, ownPID).windows),
            (std::vector<std::string>{"window-1", "window-4"}));
}

TEST(CaptureSourcesTest, WindowsAreOrderedByApplicationAndLabelledWithTheirTitles) {
  FakeCatalog catalog;
  catalog.content.windows = {window(10, "beta", "b1"), window(11, "alpha", "a1"), window(12, "beta", "b2"),
                             window(13, "Zed", "z"), window(14, "alpha", std::nullopt, 640, 480)};
  auto content = CaptureSources::shareableContent(catalog, ownPID);
  // Plain byte comparison (upper case first), keeping the order within an application.
  EXPECT_EQ(ids(content.windows),
            (std::vector<std::string>{"window-13", "window-11", "window-14", "window-10", "window-12"}));
  EXPECT_EQ(content.windows[1], CaptureTarget::window(11, "a1", "alpha", 800, 600));
  EXPECT_EQ(content.windows[1].label(), "alpha \u2014 a1");
  EXPECT_EQ(content.windows[2], CaptureTarget::window(14, "", "alpha", 640, 480));
  EXPECT_EQ(content.windows[2].label(), "alpha");
  EXPECT_NE(CaptureTarget::display(1, "A", 10, 20), CaptureTarget::display(1, "A", 10, 21));
}

TEST(CaptureSourcesTest, CatalogErrorsPassThroughUnchanged) {
  FakeCatalog catalog;
  catalog.fails = true;
  try {
    CaptureSources::shareableContent(catalog, ownPID);
    FAIL() << "expected an error";
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "no X");
    EXPECT_EQ(error.kind(), CaptureSourceError::Kind::serverUnavailable);
  }
}

TEST(CaptureSourcesTest, SettingsPages) {
  EXPECT_EQ(CaptureSources::settingsURL(CaptureSources::MediaType::video),
            "x-apple.systempreferences:com.apple.preference.security?Privacy_Camera");
  EXPECT_EQ(CaptureSources::settingsURL(CaptureSources::MediaType::audio),
            "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
}

}  // namespace
}  // namespace tolvane
