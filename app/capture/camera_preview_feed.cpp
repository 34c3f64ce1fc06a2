#include "app/capture/camera_preview_feed.h"

#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tolvane {

CameraPreviewFeed::CameraPreviewFeed(Deliver deliver, int shortSide, double maxRate)
    : deliver_(std::move(deliver)), shortSide_(std::max(1, shortSide)), interval_(maxRate > 0 ? 1.0 / maxRate : 0) {}

CameraPreviewFeed::~CameraPreviewFeed() { close(); }

Size CameraPreviewFeed::copySize(int width, int height, int shortSide) {
  if (width <= 0 || height <= 0) return {0, 0};
  const double scale = std::min(1.0, static_cast<double>(shortSide) / std::min(width, height));
  return {std::max(1.0, std::round(width * scale)), std::max(1.0, std::round(height * scale))};
}

void CameraPreviewFeed::offer(const VideoFrame& frame, double now) {
  if (!frame || frame.width() <= 0 || frame.height() <= 0) return;
  std::lock_guard lock(mutex_);
  // A little slack, so that a camera at exactly twice the rate isn't cut to a third.
  if (closed_ || now - lastOffered_ < interval_ * 0.9) return;
  lastOffered_ = now;
  waiting_ = frame;  // a handle: the camera's buffer is kept, not copied, until scaled
  if (posted_) return;
  posted_ = true;
  worker_.async([this] { deliverWaiting(); });
}

void CameraPreviewFeed::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    waiting_ = VideoFrame();
  }
  // A copy being handed over right now finishes before close() returns.
  std::lock_guard delivering(deliveryMutex_);
}

void CameraPreviewFeed::deliverWaiting() {
  VideoFrame picture;
  {
    std::lock_guard lock(mutex_);
    posted_ = false;
    picture = std::exchange(waiting_, VideoFrame());
  }
  if (!picture) return;
  const Size size = copySize(picture.width(), picture.height(), shortSide_);
  const auto width = static_cast<int>(size.width);
  const auto height = static_cast<int>(size.height);
  VideoFrame copy = VideoFrame::allocate(width, height);
  libyuv::ARGBScale(picture.data(), picture.stride(), picture.width(), picture.height(), copy.data(), copy.stride(),
                    width, height, libyuv::kFilterBox);
  picture = VideoFrame();  // the camera's buffer goes back now

  std::lock_guard delivering(deliveryMutex_);
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
  }
  deliver_(copy);
}

}  // namespace tolvane
