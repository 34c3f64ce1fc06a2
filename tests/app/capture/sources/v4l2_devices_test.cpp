#include "app/capture/sources/v4l2_devices.h"

#include <gtest/gtest.h>

#include "app/capture/sources/v4l2_camera_source.h"
#include "tests/app/capture/sources/source_test_support.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using Kind = CaptureSourceError::Kind;

TEST(V4L2DevicesTest, NodesThatAreNotCaptureDevicesAreNeitherListedNorOpened) {
  testing::TempDir dev;
  testing::writeFile(dev / "video0", "not a device");
  testing::writeFile(dev / "video1x", "");
  testing::writeFile(dev / "audio0", "");
  EXPECT_TRUE(V4L2Devices::list(dev.path(), dev / "v4l/by-id").empty());
  EXPECT_TRUE(V4L2Devices::list(dev / "missing", dev / "missing").empty());

  EXPECT_EQ(testing::sourceError([&] { V4L2CameraSource camera(dev / "video9"); }),
            std::pair(Kind::deviceUnavailable, std::string("Tolvane couldn't find that camera.")));
  // A node that is no V4L2 device offers no format Tolvane reads.
  EXPECT_EQ(testing::sourceError([&] { V4L2CameraSource camera(dev / "video0"); }),
            std::pair(Kind::deviceUnavailable, std::string("Tolvane couldn't read from that camera.")));
}

}  // namespace
}  // namespace tolvane
