#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/capture/capture_engine.h"
#include "kit/vault/recording_vault.h"

namespace tolvane::cli {

// One recording made from the command line, run the way the desktop application's
// session controller runs it: a vault item in state `recording`, an engine writing into
// it, and at the end a manifest that says `ready`, or `needsAttention` with the reason.
class CliRecording : public CaptureEngineDelegate, public std::enable_shared_from_this<CliRecording> {
 public:
  // `onFailure` runs on a capture thread when the engine reports a failure; it should
  // only wake the thread that called begin().
  CliRecording(RecordingVault& vault, std::shared_ptr<SourceFactory> sources, std::function<void()> onFailure);
  ~CliRecording() override;

  // Creates the vault item and starts the engine. On failure the item (when it was
  // created) is marked as needing attention and the error is rethrown unchanged.
  void begin(const RecordingOptions& options);
  void pause();
  void resume();
  bool isPaused() const;
  // Hands the engine a new annotation overlay and blur regions.
  void updateAnnotations(VideoFrame image, std::vector<Rect> blurRects);
  // Finishes the file and the manifest; returns the duration in seconds.
  double stop();
  // Closes the file at once (bounded) and leaves the item `finalizing` for recovery.
  void emergencyStop();

  double elapsed() const;
  // The sentence for the user when the engine failed while recording, else none.
  std::optional<std::string> recordingError() const;
  const VaultItem& item() const { return *item_; }
  CaptureEngine::Statistics statistics() const;

  void captureEngineDidFail(CaptureEngine& engine, const std::runtime_error& error) override;

 private:
  RecordingVault& vault_;
  std::shared_ptr<SourceFactory> sources_;
  std::function<void()> onFailure_;
  std::optional<VaultItem> item_;
  std::unique_ptr<CaptureEngine> engine_;
  mutable std::mutex errorMutex_;
  std::optional<std::string> recordingError_;
};

}  // namespace tolvane::cli
