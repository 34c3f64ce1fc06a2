#include "app/capture/sources/v4l2_devices.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

  // A node the account may not open (outside the video group) is not "in use". Root
  // opens anything, so the attempt runs in a child that drops to nobody first.
  std::filesystem::permissions(dev / "video0", std::filesystem::perms::none);
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && ::setuid(65534) != 0) std::_Exit(2);
        const auto error = testing::sourceError([&] { V4L2CameraSource camera(dev / "video0"); });
        std::fputs(error.second.c_str(), stderr);
        std::_Exit(error.first == Kind::deviceUnavailable ? 0 : 1);
      },
      ::testing::ExitedWithCode(0),
      "Tolvane isn't allowed to use that camera. Make sure your account may use the camera \\(the video group\\)");
}

}  // namespace
}  // namespace tolvane
