#include "app/core/camera_preview.h"

#include <QtConcurrent/QtConcurrentRun>

namespace tolvane {

// Lives on the worker thread only.
struct CameraPreview::Running {
  std::unique_ptr<CameraSource> camera;
};

CameraPreview::CameraPreview(std::shared_ptr<SourceFactory> sources, std::shared_ptr<CameraPreviewSink> sink)
    : sources_(std::move(sources)), sink_(std::move(sink)) {
  // One thread: a stop never overtakes the start it undoes.
  worker_.setMaxThreadCount(1);
}

CameraPreview::~CameraPreview() {
  stop();
  worker_.waitForDone();
}

void CameraPreview::start(const std::string& cameraID) {
  if (cameraID_) stop();
  cameraID_ = cameraID;
  running_ = std::make_shared<Running>();
  worker_.start([running = running_, sources = sources_, sink = sink_, id = cameraID, this] {
    try {
      running->camera = sources->openCamera(id);
      running->camera->start([sink](const VideoFrame& frame) { sink->showFrame(frame); },
                             [](const std::string&) {});
    } catch (const std::exception& error) {
      running->camera.reset();
      log_.error("couldn't start the camera preview: {}", error.what());
    }
  });
}

QFuture<void> CameraPreview::stop() {
  if (!cameraID_) return QtConcurrent::run(&worker_, [] {});
  cameraID_.reset();
  return QtConcurrent::run(&worker_, [running = std::exchange(running_, nullptr), sink = sink_] {
    if (!running->camera) return;
    running->camera->stop();
    running->camera.reset();
    sink->clear();
  });
}

}  // namespace tolvane
