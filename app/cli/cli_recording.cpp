#include "app/cli/cli_recording.h"

#include <chrono>

#include "app/capture/recording_session_rules.h"

namespace tolvane::cli {

CliRecording::CliRecording(RecordingVault& vault, std::shared_ptr<SourceFactory> sources,
                           std::function<void()> onFailure)
    : vault_(vault), sources_(std::move(sources)), onFailure_(std::move(onFailure)) {}

CliRecording::~CliRecording() = default;

void CliRecording::begin(const RecordingOptions& options) {
  try {
    item_ = vault_.createRecording(RecordingVault::defaultTitle(std::chrono::system_clock::now()),
                                   options.cameraID.has_value(), options.microphoneID.has_value(),
                                   options.includeSystemAudio);
    auto engine = std::make_unique<CaptureEngine>(options, item_->videoPath(), sources_);
    engine->setDelegate(weak_from_this());
    engine->start();
    engine_ = std::move(engine);
  } catch (const std::exception& error) {
    if (item_) {
      const std::string message = error.what();
      vault_.update(item_->id(), [&](RecordingManifest& manifest) {
        manifest.state = RecordingState::needsAttention;
        manifest.lastError = message;
      });
    }
    throw;
  }
}

void CliRecording::pause() {
  if (engine_) engine_->pause();
}

void CliRecording::resume() {
  if (engine_) engine_->resume();
}

void CliRecording::updateAnnotations(VideoFrame image, std::vector<Rect> blurRects) {
  if (engine_) engine_->updateAnnotations(std::move(image), std::move(blurRects));
}

bool CliRecording::isPaused() const { return engine_ && engine_->isPaused(); }

double CliRecording::elapsed() const { return engine_ ? engine_->duration() : 0; }

CaptureEngine::Statistics CliRecording::statistics() const {
  return engine_ ? engine_->statistics() : CaptureEngine::Statistics{};
}

double CliRecording::stop() {
  if (!engine_ || !item_) return 0;
  const double duration = engine_->stop();
  auto updated = vault_.update(item_->id(), [&](RecordingManifest& manifest) {
    manifest.durationSec = duration;
    if (RecordingSessionRules::isEmptyRecording(duration)) {
      manifest.state = RecordingState::needsAttention;
      manifest.lastError = RecordingSessionRules::emptyRecordingMessage;
    } else {
      manifest.state = RecordingState::ready;
    }
  });
  if (updated) item_ = *updated;
  return duration;
}

void CliRecording::emergencyStop() {
  if (!engine_ || !item_) return;
  engine_->stopImmediately();
  vault_.update(item_->id(), [](RecordingManifest& manifest) { manifest.state = RecordingState::finalizing; });
}

std::optional<std::string> CliRecording::recordingError() const {
  std::lock_guard lock(errorMutex_);
  return recordingError_;
}

void CliRecording::captureEngineDidFail(CaptureEngine&, const std::runtime_error& error) {
  {
    std::lock_guard lock(errorMutex_);
    if (recordingError_) return;
    recordingError_ = RecordingSessionRules::failureMessage(error.what());
  }
  if (onFailure_) onFailure_();
}

}  // namespace tolvane::cli
