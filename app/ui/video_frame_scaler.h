#pragma once

#include <QImage>
#include <QSize>
#include <QVideoFrame>
#include <functional>
#include <mutex>
#include <optional>

#include "kit/base/serial_queue.h"

namespace tolvane {

// Turns decoded video frames into pictures of the size they are shown at, on a thread of
// its own. A 1440p frame shown in a pane a third as wide is mostly pixels nobody sees:
// converting all of them to RGB on the render thread (or sampling three full-size planes
// in a shader on a software rasteriser) cost more than decoding them. libyuv shrinks the
// YUV planes first and converts only what is left.
//
// Thread-safe: offer() and takePicture() may be called from any thread.
class VideoFrameScaler {
 public:
  // Called on the scaler's thread whenever a new picture is ready to take.
  explicit VideoFrameScaler(std::function<void()> pictureReady);
  // A picture being made is finished first.
  ~VideoFrameScaler();
  VideoFrameScaler(const VideoFrameScaler&) = delete;
  VideoFrameScaler& operator=(const VideoFrameScaler&) = delete;

  // Makes a picture of `frame` that fits `box` (device pixels) at the frame's aspect. A
  // frame still waiting when the next comes is dropped for it, so a slow moment skips
  // frames rather than falling behind. An invalid frame makes an empty picture.
  void offer(const QVideoFrame& frame, QSize box);
  // The picture made since the last call (a null image for an empty one), once.
  std::optional<QImage> takePicture();

  // `frame` shrunk to fit `box` at its aspect (never enlarged), in RGB32; a null image
  // when the frame cannot be read.
  static QImage scaled(const QVideoFrame& frame, QSize box);

 private:
  struct Job {
    QVideoFrame frame;
    QSize box;
  };
  void makeWaiting();

  std::function<void()> pictureReady_;
  std::mutex mutex_;
  std::optional<Job> waiting_;
  bool posted_ = false;
  std::optional<QImage> picture_;
  SerialQueue worker_{"com.tolvanelabs.Tolvane.ui.video"};  // last: stops first
};

}  // namespace tolvane
