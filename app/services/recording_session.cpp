#include "app/services/recording_session.h"

#include <chrono>
#include <stdexcept>

#include "app/capture/recording_session_rules.h"

namespace tolvane {

// The engine's delegate. The engine holds it weakly, so it is its own object: it keeps
// the first failure and posts it to the session's handler.
class RecordingSession::EngineWatch final : public CaptureEngineDelegate {
 public:
  EngineWatch(std::shared_ptr<Executor> executor, LifetimeGuard::Token token)
      : executor_(std::move(executor)), token_(std::move(token)) {}

  void captureEngineDidFail(CaptureEngine&, const std::runtime_error& error) override {
    std::string sentence = RecordingSessionRules::failureMessage(error.what());
    {
      std::lock_guard lock(mutex_);
      if (failure_) return;
      failure_ = sentence;
    }
    executor_->post(token_.wrap([this, sentence] {
      // Runs only while the session (which owns this watch) lives.
      if (handler_) handler_(sentence);
    }));
  }

  std::optional<std::string> failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
  }

  // Read only inside guarded tasks; written under the session's guard.
  FailureHandler handler_;

 private:
  std::shared_ptr<Executor> executor_;
  LifetimeGuard::Token token_;
  mutable std::mutex mutex_;
  std::optional<std::string> failure_;  // guarded by mutex_
};

RecordingSession::RecordingSession(std::shared_ptr<RecordingVault> vault, std::shared_ptr<SourceFactory> sources,
                                   std::shared_ptr<Executor> executor)
    : vault_(std::move(vault)),
      sources_(std::move(sources)),
      executor_(std::move(executor)),
      watch_(std::make_shared<EngineWatch>(executor_, guard_.token())) {}

RecordingSession::~RecordingSession() {
  guard_.end();
  engine_.reset();
}

void RecordingSession::setOnFailure(FailureHandler handler) {
  guard_.locked([&] { watch_->handler_ = std::move(handler); });
}

void RecordingSession::checkCanStart(bool hasTarget) const {
  if (auto refusal = RecordingSessionRules::preflight({hasTarget, vault_->availableCapacityBytes()})) {
    throw std::runtime_error(*refusal);
  }
}

void RecordingSession::begin(const RecordingOptions& options) {
  std::optional<VaultItem> created;
  try {
    created = vault_->createRecording(RecordingVault::defaultTitle(std::chrono::system_clock::now()),
                                      options.cameraID.has_value(), options.microphoneID.has_value(),
                                      options.includeSystemAudio, &lock_);
    {
      std::lock_guard lock(itemMutex_);
      item_ = created;
    }
    auto engine = std::make_unique<CaptureEngine>(options, created->videoPath(), sources_);
    engine->setDelegate(watch_);
    engine->start();
    engine_ = std::move(engine);
  } catch (const std::exception& error) {
    if (created) {
      const std::string message = error.what();
      auto updated = vault_->update(created->id(), [&](RecordingManifest& manifest) {
        manifest.state = RecordingState::needsAttention;
        manifest.lastError = message;
      });
      std::lock_guard lock(itemMutex_);
      if (updated) item_ = std::move(updated);
    }
    lock_.release();
    throw;
  }
}

void RecordingSession::pause() {
  if (engine_) engine_->pause();
}

void RecordingSession::resume() {
  if (engine_) engine_->resume();
}

void RecordingSession::updateAnnotations(VideoFrame image, std::vector<Rect> blurRects) {
  if (engine_) engine_->updateAnnotations(std::move(image), std::move(blurRects));
}

std::optional<Size> RecordingSession::outputSize() const {
  if (!engine_) return std::nullopt;
  return engine_->outputSize();
}

double RecordingSession::stop(std::optional<Date> holdUploadUntil) {
  const auto current = item();
  if (!engine_ || !current) return 0;
  const double duration = engine_->stop();
  const std::vector<std::string> notices = engine_->notices();
  auto updated = vault_->update(current->id(), [&](RecordingManifest& manifest) {
    manifest.durationSec = duration;
    describeSound(manifest);
    if (RecordingSessionRules::isEmptyRecording(duration)) {
      manifest.state = RecordingState::needsAttention;
      manifest.lastError = RecordingSessionRules::emptyRecordingMessage;
    } else {
      manifest.state = RecordingState::ready;
      if (holdUploadUntil) manifest.holdUploadUntil = holdUploadUntil;
      // Sound the recording went on without is worth a line even when all went well.
      if (!notices.empty()) {
        std::string line;
        for (const std::string& notice : notices) line += (line.empty() ? "" : " ") + notice;
        manifest.notice = line;
      }
    }
  });
  lock_.release();
  std::lock_guard lock(itemMutex_);
  if (updated) item_ = std::move(updated);
  return duration;
}

void RecordingSession::emergencyStop() {
  const auto current = item();
  if (!engine_ || !current) return;
  engine_->stopImmediately();
  auto updated = vault_->update(current->id(), [&](RecordingManifest& manifest) {
    manifest.state = RecordingState::finalizing;
    describeSound(manifest);
  });
  lock_.release();
  std::lock_guard lock(itemMutex_);
  if (updated) item_ = std::move(updated);
}

// The item's sound flags name what the file really holds: a source that was asked for
// but never gave a sample (no sound output, a microphone that failed at once) is not in it.
void RecordingSession::describeSound(RecordingManifest& manifest) const {
  const CaptureEngine::Statistics statistics = engine_->statistics();
  manifest.hasMicrophone = manifest.hasMicrophone && statistics.microphoneFrames > 0;
  manifest.hasSystemAudio = manifest.hasSystemAudio && statistics.systemAudioFrames > 0;
}

bool RecordingSession::isPaused() const { return engine_ && engine_->isPaused(); }

double RecordingSession::elapsed() const { return engine_ ? engine_->duration() : 0; }

std::optional<std::string> RecordingSession::failure() const { return watch_->failure(); }

std::optional<VaultItem> RecordingSession::item() const {
  std::lock_guard lock(itemMutex_);
  return item_;
}

CaptureEngine::Statistics RecordingSession::statistics() const {
  return engine_ ? engine_->statistics() : CaptureEngine::Statistics{};
}

}  // namespace tolvane
