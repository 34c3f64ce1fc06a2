#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/capture/sources/bgra_fit.h"
#include "app/capture/sources/camera_frame_decoder.h"

namespace tolvane {
namespace {

std::uint32_t pixelAt(const VideoFrame& frame, int x, int y) {
  return *reinterpret_cast<const std::uint32_t*>(frame.pixel(x, y));
}

TEST(FitBGRATest, CopiesOpaqueAndLetterboxesOtherAspects) {
  std::vector<std::uint32_t> source(4 * 2, 0x00112233u);  // X servers leave the top byte 0
  source[5] = 0x00ABCDEFu;
  VideoFrame same = VideoFrame::allocate(4, 2);
  fitBGRA(reinterpret_cast<const std::uint8_t*>(source.data()), 16, 4, 2, same);
  EXPECT_EQ(pixelAt(same, 0, 0), 0xFF112233u);
  EXPECT_EQ(pixelAt(same, 1, 1), 0xFFABCDEFu);

  std::vector<std::uint32_t> wide(200 * 100, 0x00FF0000u);  // red
  VideoFrame out = VideoFrame::allocate(100, 100);
  fitBGRA(reinterpret_cast<const std::uint8_t*>(wide.data()), 800, 200, 100, out);
  EXPECT_EQ(pixelAt(out, 50, 5), 0xFF000000u);   // bar above
  EXPECT_EQ(pixelAt(out, 50, 50), 0xFFFF0000u);  // picture, 100 × 50 in the middle
  EXPECT_EQ(pixelAt(out, 50, 94), 0xFF000000u);  // bar below

  fitBGRA(nullptr, 0, 0, 0, out);
  EXPECT_EQ(pixelAt(out, 50, 50), 0xFF000000u);  // nothing to show: black
}

TEST(CameraFrameDecoderTest, YuyvStudioSwingBecomesFullRangeAndShortOrCorruptDataIsRefused) {
  // Two rows of 4 pixels: studio-swing white on the left pair, black on the right pair.
  const std::vector<std::uint8_t> yuyv = {235, 128, 235, 128, 16, 128, 16, 128,
                                          235, 128, 235, 128, 16, 128, 16, 128};
  VideoFrame out = VideoFrame::allocate(4, 2);
  CameraFrameDecoder decoder(CameraPixelFormat::yuyv, 4, 2, 8);
  ASSERT_TRUE(decoder.decode(yuyv.data(), yuyv.size(), out));
  for (int c = 0; c < 3; ++c) {
    EXPECT_GE(out.pixel(0, 1)[c], 250) << c;
    EXPECT_LE(out.pixel(3, 0)[c], 5) << c;
  }
  EXPECT_EQ(out.pixel(0, 0)[3], 255);

  EXPECT_FALSE(decoder.decode(yuyv.data(), 8, out));
  EXPECT_FALSE(decoder.decode(nullptr, 0, out));
  VideoFrame wrongSize = VideoFrame::allocate(2, 2);
  EXPECT_FALSE(decoder.decode(yuyv.data(), yuyv.size(), wrongSize));
  // Neither libyuv nor the FFmpeg fallback takes noise for a picture.
  CameraFrameDecoder mjpeg(CameraPixelFormat::mjpeg, 4, 2, 0);
  std::vector<std::uint8_t> garbage(512, 0x42);
  EXPECT_FALSE(mjpeg.decode(garbage.data(), garbage.size(), out));
  // A picture cut short is refused in mjpeg_decode_test.
}

}  // namespace
}  // namespace tolvane
