#include "app/capture/sources/v4l2_devices.h"

#include <gtest/gtest.h>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/v4l2_camera_source.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

TEST(V4L2DevicesTest, NodesThatAreNotCaptureDevicesAreSkipped) {
  testing::TempDir dev;
  testing::writeFile(dev / "video0", "not a device");
  testing::writeFile(dev / "video1x", "");
  testing::writeFile(dev / "audio0", "");
  EXPECT_TRUE(V4L2Devices::list(dev.path(), dev / "v4l/by-id").empty());
  EXPECT_TRUE(V4L2Devices::list(dev / "missing", dev / "missing").empty());
}

TEST(V4L2CameraSourceTest, AMissingNodeIsACameraThatCannotBeFound) {
  testing::TempDir dev;
  try {
    V4L2CameraSource camera(dev / "video9");
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "Tolvane couldn't find that camera.");
  }
  // A node that is no V4L2 device offers no format Tolvane reads.
  testing::writeFile(dev / "video0", "plain file");
  try {
    V4L2CameraSource camera(dev / "video0");
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "Tolvane couldn't read from that camera.");
  }
}

}  // namespace
}  // namespace tolvane
