#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/capture/capture_engine.h"
#include "app/capture/recording_options.h"
#include "app/capture/sources/source_factory.h"
#include "app/services/executor.h"
#include "app/services/lifetime_guard.h"
#include "kit/vault/recording_vault.h"

namespace tolvane {

// One recording, from its vault item to its finished manifest: the item is created in
// state `recording`, an engine writes into it, and stop() leaves it `ready`, or
// `needsAttention` with the reason when it came out empty. Shared by the command line
// and the desktop application; it prints nothing, and errors are exceptions whose what()
// is the user's sentence. The item's lock (recording_lock.h) is held from its creation
// until its manifest is final, so that no other process recovers, uploads, trims or
// deletes it meanwhile.
//
// begin(), pause(), resume(), stop() and emergencyStop() block their caller and are
// called from one thread at a time; the queries may be called from any thread once
// begin() has returned.
class RecordingSession {
 public:
  // Hears, on the executor, the sentence for the user when the engine failed while
  // recording (at most once, and never after the session is gone). The recording is not
  // stopped: the receiver calls stop().
  using FailureHandler = std::function<void(const std::string& sentence)>;

  RecordingSession(std::shared_ptr<RecordingVault> vault, std::shared_ptr<SourceFactory> sources,
                   std::shared_ptr<Executor> executor);
  ~RecordingSession();
  RecordingSession(const RecordingSession&) = delete;
  RecordingSession& operator=(const RecordingSession&) = delete;

  void setOnFailure(FailureHandler handler);

  // Throws the reason a recording may not start now (nothing to record, too little free
  // space on the vault's volume); creates nothing.
  void checkCanStart(bool hasTarget) const;

  // Creates the vault item and starts the engine. On failure the item (when it was
  // created) is marked as needing attention with the error's sentence, and the error is
  // rethrown unchanged.
  void begin(const RecordingOptions& options);
  void pause();
  void resume();
  // Hands the engine a new annotation overlay and blur regions.
  void updateAnnotations(VideoFrame image, std::vector<Rect> blurRects);
  // Finishes the file and the manifest; returns the duration in seconds. The item's
  // sound flags say which sources really reached the file, and sound the recording went
  // on without (the computer's sound missing, a source that stopped) is told in its
  // `notice` line, the item staying ready.
  // `holdUploadUntil` (the desktop app's review) is written in the same update that makes
  // the item ready, so the upload queue never finds it ready and not yet held.
  double stop(std::optional<Date> holdUploadUntil = std::nullopt);
  // Closes the file at once (bounded) and leaves the item `finalizing`, for recovery at
  // the next launch to measure.
  void emergencyStop();

  bool isPaused() const;
  double elapsed() const;
  // The sentence for the user when the engine failed while recording; none otherwise.
  std::optional<std::string> failure() const;
  // The recording's item as last written; none before begin() created it.
  std::optional<VaultItem> item() const;
  CaptureEngine::Statistics statistics() const;
  // The video's pixel size once begin() has started the engine; none before.
  std::optional<Size> outputSize() const;

 private:
  class EngineWatch;
  void describeSound(RecordingManifest& manifest) const;

  std::shared_ptr<RecordingVault> vault_;
  std::shared_ptr<SourceFactory> sources_;
  std::shared_ptr<Executor> executor_;
  LifetimeGuard guard_;
  std::shared_ptr<EngineWatch> watch_;
  mutable std::mutex itemMutex_;
  std::optional<VaultItem> item_;  // guarded by itemMutex_
  RecordingLock lock_;             // written by begin(), stop() and emergencyStop() only
  // Set once by begin(); the engine itself is thread-safe.
  std::unique_ptr<CaptureEngine> engine_;
};

}  // namespace tolvane
