// Decodes JPEG pictures made by ffmpeg, as MJPEG cameras deliver them, in each chroma
// sampling cameras use.
#include <gtest/gtest.h>

#include "app/capture/sources/camera_frame_decoder.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

TEST(MjpegDecodeTest, DecodesEverySamplingCamerasUse) {
  testing::TempDir folder;
  for (std::string sampling : {"yuvj420p", "yuvj422p", "yuvj444p"}) {
    SCOPED_TRACE(sampling);
    auto path = folder / (sampling + ".jpg");
    auto made = testing::runCommand({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                                     "color=c=0x2040C0:s=64x48", "-frames:v", "1", "-c:v", "mjpeg", "-pix_fmt",
                                     sampling, path.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string jpeg = testing::readFile(path);

    CameraFrameDecoder decoder(CameraPixelFormat::mjpeg, 64, 48, 0);
    VideoFrame frame = VideoFrame::allocate(64, 48);
    ASSERT_TRUE(decoder.decode(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), frame));
    const std::uint8_t* p = frame.pixel(32, 24);
    EXPECT_EQ(p[3], 255);
    EXPECT_NEAR(p[0], 0xC0, 6);  // blue
    EXPECT_NEAR(p[1], 0x40, 6);  // green
    EXPECT_NEAR(p[2], 0x20, 6);  // red

    // The same picture cut short by a driver is refused rather than shown torn.
    EXPECT_FALSE(decoder.decode(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size() / 3, frame));
  }
}

}  // namespace
}  // namespace tolvane
