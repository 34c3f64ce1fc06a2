#pragma once

#include <functional>
#include <mutex>

#include "kit/base/geometry.h"
#include "kit/base/serial_queue.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Hands small copies of the camera's pictures to someone outside the recording (the
// bubble preview) without slowing the camera down: offer() only keeps the newest picture
// in a slot, at most `maxRate` a second, and a worker of its own scales the one in the
// slot down and delivers it. A picture that arrives while the worker is busy replaces
// the one waiting, so at most one waits and one is being scaled.
//
// Thread-safe. Nothing is delivered once close() has returned.
class CameraPreviewFeed {
 public:
  using Deliver = std::function<void(const VideoFrame&)>;

  // `shortSide`: the copies' shorter side at most, in pixels (never scaled up).
  CameraPreviewFeed(Deliver deliver, int shortSide, double maxRate);
  ~CameraPreviewFeed();
  CameraPreviewFeed(const CameraPreviewFeed&) = delete;
  CameraPreviewFeed& operator=(const CameraPreviewFeed&) = delete;

  // `now`: the caller's clock in seconds, which only paces the copies.
  void offer(const VideoFrame& frame, double now);
  void close();

  // The copy's size for a w × h picture: the aspect kept, the shorter side at most
  // `shortSide`, each side at least 1.
  static Size copySize(int width, int height, int shortSide);

 private:
  void deliverWaiting();

  const Deliver deliver_;
  const int shortSide_;
  const double interval_;

  std::mutex mutex_;
  VideoFrame waiting_;
  bool posted_ = false;
  bool closed_ = false;
  double lastOffered_ = -1e300;
  std::mutex deliveryMutex_;  // held while a copy is handed over, so close() can wait for it

  SerialQueue worker_{"com.tolvanelabs.Tolvane.capture.preview"};  // last: stops first
};

}  // namespace tolvane
