#pragma once

#include <QFuture>
#include <QThreadPool>
#include <memory>
#include <optional>
#include <string>

#include "app/capture/sources/source_factory.h"
#include "kit/base/log.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Where the idle camera preview's pictures go: the bubble view implements it (it turns
// them into images; the model stays free of GUI types).
class CameraPreviewSink {
 public:
  virtual ~CameraPreviewSink() = default;
  // On the camera's thread, with each new picture.
  virtual void showFrame(const VideoFrame& frame) = 0;
  // On a worker thread, once the camera has stopped: the bubble shows nothing.
  virtual void clear() = 0;
};

// The camera running for the bubble while nothing is recorded. Opening and starting a
// camera blocks for a while and stopping waits for its thread, so both happen in order
// on a worker thread of this object; the GUI thread only hands out the orders.
class CameraPreview {
 public:
  CameraPreview(std::shared_ptr<SourceFactory> sources, std::shared_ptr<CameraPreviewSink> sink);
  // Waits for the camera to be stopped.
  ~CameraPreview();
  CameraPreview(const CameraPreview&) = delete;
  CameraPreview& operator=(const CameraPreview&) = delete;

  // The camera the preview runs (or is starting); none when stopped.
  const std::optional<std::string>& cameraID() const { return cameraID_; }

  void start(const std::string& cameraID);
  // Finishes once the camera is released (the engine may open it then).
  QFuture<void> stop();

 private:
  struct Running;

  std::shared_ptr<SourceFactory> sources_;
  std::shared_ptr<CameraPreviewSink> sink_;
  Logger log_{"app"};
  QThreadPool worker_;
  std::optional<std::string> cameraID_;
  std::shared_ptr<Running> running_;
};

}  // namespace tolvane
