#include "app/ui/video_frame_scaler.h"

#include <gtest/gtest.h>

#include <QVideoFrameFormat>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace tolvane {
namespace {

// An I420 frame whose left half is white and right half black (limited range).
QVideoFrame halvedFrame(QSize size) {
  QVideoFrame frame(QVideoFrameFormat(size, QVideoFrameFormat::Format_YUV420P));
  EXPECT_TRUE(frame.map(QVideoFrame::WriteOnly));
  for (int y = 0; y < size.height(); ++y) {
    std::uint8_t* row = frame.bits(0) + static_cast<std::ptrdiff_t>(y) * frame.bytesPerLine(0);
    std::memset(row, 235, static_cast<std::size_t>(size.width() / 2));
    std::memset(row + size.width() / 2, 16, static_cast<std::size_t>(size.width() - size.width() / 2));
  }
  for (int plane = 1; plane <= 2; ++plane) {
    std::memset(frame.bits(plane), 128, static_cast<std::size_t>(frame.mappedBytes(plane)));
  }
  frame.unmap();
  return frame;
}

TEST(VideoFrameScaler, ShrinksToTheBoxAtTheFramesAspectAndNeverEnlarges) {
  const QImage picture = VideoFrameScaler::scaled(halvedFrame({2560, 1440}), {900, 600});
  ASSERT_EQ(picture.size(), QSize(900, 506));
  EXPECT_EQ(picture.format(), QImage::Format_RGB32);
  EXPECT_GT(qGray(picture.pixel(100, 250)), 245);
  EXPECT_LT(qGray(picture.pixel(800, 250)), 10);
  // Odd sizes keep their last column and row.
  const QImage odd = VideoFrameScaler::scaled(halvedFrame({2560, 1440}), {101, 101});
  ASSERT_EQ(odd.size(), QSize(101, 56));
  EXPECT_LT(qGray(odd.pixel(100, 55)), 10);
  // A small movie in a large pane is left at its size: the texture stretches it.
  EXPECT_EQ(VideoFrameScaler::scaled(halvedFrame({320, 180}), {1000, 1000}).size(), QSize(320, 180));
  // Nothing to show, or nowhere to show it.
  EXPECT_TRUE(VideoFrameScaler::scaled(QVideoFrame(), {900, 600}).isNull());
  EXPECT_TRUE(VideoFrameScaler::scaled(halvedFrame({64, 64}), {0, 0}).isNull());
}

TEST(VideoFrameScaler, HandsOverThePictureOnceAndAnInvalidFrameEmptiesIt) {
  std::mutex mutex;
  std::condition_variable changed;
  int ready = 0;
  VideoFrameScaler scaler([&] {
    std::lock_guard lock(mutex);
    ++ready;
    changed.notify_all();
  });
  const auto waitFor = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return ready >= count; });
  };
  EXPECT_FALSE(scaler.takePicture().has_value());
  scaler.offer(halvedFrame({640, 360}), {320, 320});
  ASSERT_TRUE(waitFor(1));
  const auto picture = scaler.takePicture();
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->size(), QSize(320, 180));
  EXPECT_FALSE(scaler.takePicture().has_value());
  scaler.offer(QVideoFrame(), {320, 320});
  ASSERT_TRUE(waitFor(2));
  const auto empty = scaler.takePicture();
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->isNull());
}

}  // namespace
}  // namespace tolvane
