#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>

#include "kit/base/iso8601.h"
#include "kit/base/log.h"
#include "kit/config/url.h"
#include "kit/net/network_monitor.h"
#include "kit/upload/progress_throttle.h"
#include "kit/upload/tus_uploader.h"
#include "kit/vault/vault_item.h"

namespace tolvane {

class AuthStore;
class RecordingVault;
class TolvaneAPI;

// Moves finished recordings from the vault to the user's web library, one at a time, in
// the background: bytes to the tus server, then the recording saved to the library, then
// a check that the service knows the video. All progress lives in the manifests (upload
// URL, bytes sent, video id, share link), so uploads survive restarts and resume.
// Transient failures (no answer, refused, 408, 429, 5xx) are retried on a fixed
// back-off; items that need the user are parked in `needsAttention`; nothing happens
// while offline or signed out.
//
// One worker thread runs passes. A pass keeps taking the oldest eligible item until
// none is left, and never takes the same item twice, so an item that fails without a
// retry time (signed out, over the recording limit) waits for the next pass instead of
// spinning. Passes are requested by kick(), by the network coming back and by a 30 s
// heartbeat; requests made while a pass runs make exactly one more pass after it. A
// recording that failed for a reason on this computer (LocalUploadError) is left out
// of passes until retryNow() or the next start(). A locked recording (recording_lock.h:
// being recorded or trimmed, here or in another process) is passed over until a later
// pass finds it free.
//
// Thread-safe: every public member may be called from any thread, except that stop()
// must not be called from the change or progress callbacks (it waits for the worker).
class UploadQueue {
 public:
  // Why a pass was asked for; every trigger starts the same kind of pass.
  enum class Trigger { launch, recordingFinished, network, manual, timer, auth };

  // Delay before the next attempt, by failed attempt: 15 s after the first, then 45 s,
  // 2 min, 5 min, 15 min, 30 min, and hourly from the seventh on, without limit.
  static constexpr std::array<std::int64_t, 7> backoff = {15, 45, 120, 300, 900, 1800, 3600};

  using Now = std::function<Date()>;
  using ChangeHandler = std::function<void()>;
  using ProgressHandler = std::function<void(const std::string& id, const TusUploader::Progress&)>;

  struct Settings {
    // Base of the share link made when the service gives none; Config::siteURL() when
    // none.
    std::optional<Url> siteURL;
    // The clock of retry times, holds and verification delays. Tests move it forward
    // instead of waiting out the back-off.
    Now now = [] { return std::chrono::system_clock::now(); };
    // The monitor start() runs; when unset, the rtnetlink monitor watching for a route
    // to the site's host.
    std::function<std::unique_ptr<NetworkMonitor>()> makeNetworkMonitor;
    // Interval of the heartbeat that requests a pass.
    std::chrono::milliseconds heartbeat{30000};
  };

  UploadQueue(std::shared_ptr<RecordingVault> vault, std::shared_ptr<TolvaneAPI> api, std::shared_ptr<AuthStore> auth,
              std::shared_ptr<TusUploader> uploader, Settings settings);
  UploadQueue(std::shared_ptr<RecordingVault> vault, std::shared_ptr<TolvaneAPI> api, std::shared_ptr<AuthStore> auth,
              std::shared_ptr<TusUploader> uploader);
  ~UploadQueue();  // stop()
  UploadQueue(const UploadQueue&) = delete;
  UploadQueue& operator=(const UploadQueue&) = delete;

  // Called after every item the queue processed, on the worker thread.
  void setOnChange(ChangeHandler handler);
  // Called with every progress report of the transfer in flight, on the worker thread.
  // Manifests get progress at most every 2 s; this gets every chunk.
  void setOnProgress(ProgressHandler handler);

  // Starts the worker, the network monitor and the heartbeat, and requests a pass
  // (`launch`). Does nothing while running.
  void start();
  // Stops passes and the network monitor. A transfer in flight is cancelled and its
  // item returns to `uploading` (bytes were sent) or `ready`; this waits for that.
  void stop();
  // Requests a pass.
  void kick(Trigger trigger);
  // Clears the item's retry state and hold (a `needsAttention` item becomes `uploading`
  // or `ready` again) and requests a pass (`manual`).
  void retryNow(const std::string& id);

  // True while an item is being processed.
  bool isUploading() const;
  // The id of the item being processed, or none.
  std::optional<std::string> uploadingID() const;
  bool isOnline() const { return isOnline_; }
  // Waits until no pass runs and none is requested.
  void waitUntilIdle() const;

  // What the network monitor reports; public so that a front end with its own
  // connectivity source can feed it.
  void networkChanged(bool satisfied);

 private:
  void workerLoop(std::stop_token workerStop);
  bool isRunning() const;
  void runPass(const std::stop_token& stop);
  std::optional<VaultItem> nextItem(const std::set<std::string>& alreadyProcessed);
  void process(VaultItem item, const std::stop_token& stop);
  VaultItem uploadBytes(const VaultItem& item, const std::stop_token& stop);
  VaultItem saveToLibrary(const VaultItem& item, const std::stop_token& stop);
  void verify(const VaultItem& item, const std::stop_token& stop);
  void handle(std::exception_ptr error, const std::string& id);
  void scheduleRetry(const std::string& id, int attempts, const std::string& reason);
  void markAllPendingSignedOut();
  void setCurrentItem(std::optional<std::string> id);
  void notifyChange();

  std::shared_ptr<RecordingVault> vault_;
  std::shared_ptr<TolvaneAPI> api_;
  std::shared_ptr<AuthStore> auth_;
  std::shared_ptr<TusUploader> uploader_;
  Settings settings_;
  Logger log_{"upload"};

  mutable std::mutex mutex_;
  mutable std::condition_variable_any changed_;
  bool isRunning_ = false;                    // guarded by mutex_
  bool passRequested_ = false;                // guarded by mutex_
  bool passRunning_ = false;                  // guarded by mutex_
  std::optional<std::string> currentItemID_;  // guarded by mutex_
  std::set<std::string> parked_;              // guarded by mutex_; ids a local failure stopped
  std::stop_source passStop_;                 // guarded by mutex_; cancels the pass in flight
  ChangeHandler onChange_;                    // guarded by mutex_
  ProgressHandler onProgress_;                // guarded by mutex_
  std::atomic<bool> isOnline_{true};

  std::mutex lifecycleMutex_;  // serialises start() and stop()
  std::unique_ptr<NetworkMonitor> monitor_;  // guarded by lifecycleMutex_
  std::jthread worker_;                      // guarded by lifecycleMutex_
};

}  // namespace tolvane
