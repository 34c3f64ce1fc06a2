#include "kit/upload/upload_queue.h"

#include <algorithm>
#include <vector>

#include "kit/auth/auth_error.h"
#include "kit/auth/auth_store.h"
#include "kit/base/errors.h"
#include "kit/config/config.h"
#include "kit/net/http_error.h"
#include "kit/net/rtnetlink_network_monitor.h"
#include "kit/net/transport_error.h"
#include "kit/upload/local_upload_error.h"
#include "kit/upload/tolvane_api.h"
#include "kit/vault/recording_lock.h"
#include "kit/vault/recording_vault.h"

namespace tolvane {
namespace {

constexpr auto kVerificationRetryDelay = std::chrono::seconds(60);
// A refused request is looked at again after ten minutes, in case the refusal was not
// for good.
constexpr auto kRefusedRetryDelay = std::chrono::seconds(600);

constexpr std::string_view kSignedOutText = "Signed out — sign in and this uploads automatically.";

// The state an item goes back to when an attempt ends early: bytes on the server make it
// `uploading`, so that the next attempt resumes.
RecordingState stateAfterInterruption(const RecordingManifest& manifest) {
  return manifest.uploadedBytes > 0 ? RecordingState::uploading : RecordingState::ready;
}

bool isEligibleState(RecordingState state) {
  return state == RecordingState::ready || state == RecordingState::uploading || state == RecordingState::uploaded ||
         state == RecordingState::needsAttention;
}

}  // namespace

UploadQueue::UploadQueue(std::shared_ptr<RecordingVault> vault, std::shared_ptr<TolvaneAPI> api,
                         std::shared_ptr<AuthStore> auth, std::shared_ptr<TusUploader> uploader, Settings settings)
    : vault_(std::move(vault)),
      api_(std::move(api)),
      auth_(std::move(auth)),
      uploader_(std::move(uploader)),
      settings_(std::move(settings)) {
  if (!settings_.siteURL) settings_.siteURL = Config::siteURL();
  if (!settings_.makeNetworkMonitor) {
    settings_.makeNetworkMonitor = [host = settings_.siteURL->host()] {
      return std::make_unique<RtnetlinkNetworkMonitor>(host);
    };
  }
}

UploadQueue::UploadQueue(std::shared_ptr<RecordingVault> vault, std::shared_ptr<TolvaneAPI> api,
                         std::shared_ptr<AuthStore> auth, std::shared_ptr<TusUploader> uploader)
    : UploadQueue(std::move(vault), std::move(api), std::move(auth), std::move(uploader), Settings{}) {}

UploadQueue::~UploadQueue() { stop(); }

void UploadQueue::setOnChange(ChangeHandler handler) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(handler);
}

void UploadQueue::setOnProgress(ProgressHandler handler) {
  std::lock_guard lock(mutex_);
  onProgress_ = std::move(handler);
}

void UploadQueue::start() {
  std::lock_guard lifecycle(lifecycleMutex_);
  {
    std::lock_guard lock(mutex_);
    if (isRunning_) return;
    isRunning_ = true;
    passStop_ = std::stop_source();
    parked_.clear();  // a launch gives every recording one more try
  }
  worker_ = std::jthread([this](std::stop_token workerStop) { workerLoop(std::move(workerStop)); });
  monitor_ = settings_.makeNetworkMonitor();
  monitor_->start([this](bool satisfied) { networkChanged(satisfied); });
  kick(Trigger::launch);
}

void UploadQueue::stop() {
  std::lock_guard lifecycle(lifecycleMutex_);
  {
    std::lock_guard lock(mutex_);
    isRunning_ = false;
    passRequested_ = false;
    passStop_.request_stop();
  }
  if (monitor_) monitor_->cancel();
  monitor_.reset();
  if (worker_.joinable()) {
    worker_.request_stop();
    worker_.join();
  }
  changed_.notify_all();
}

void UploadQueue::kick(Trigger) {
  std::lock_guard lock(mutex_);
  // A kick during a pass asks for one more after it: the running pass may already have
  // looked at the item the kick is about. Any number of kicks make one pass.
  if (!isRunning_ || passRequested_) return;
  passRequested_ = true;
  changed_.notify_all();
}

void UploadQueue::retryNow(const std::string& id) {
  {
    std::lock_guard lock(mutex_);
    parked_.erase(id);
  }
  vault_->update(id, [](RecordingManifest& manifest) {
    manifest.nextAttemptAt.reset();
    manifest.holdUploadUntil.reset();
    manifest.attemptCount = 0;
    manifest.lastError.reset();
    if (manifest.state == RecordingState::needsAttention) manifest.state = stateAfterInterruption(manifest);
  });
  kick(Trigger::manual);
}

bool UploadQueue::isUploading() const { return uploadingID().has_value(); }

std::optional<std::string> UploadQueue::uploadingID() const {
  std::lock_guard lock(mutex_);
  return currentItemID_;
}

void UploadQueue::waitUntilIdle() const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !passRequested_ && !passRunning_; });
}

void UploadQueue::networkChanged(bool satisfied) {
  if (!satisfied) {
    isOnline_ = false;  // a running pass carries on
    return;
  }
  if (isOnline_.exchange(true)) return;
  log_.info("network is back — resuming uploads");
  kick(Trigger::network);
}

bool UploadQueue::isRunning() const {
  std::lock_guard lock(mutex_);
  return isRunning_;
}

void UploadQueue::workerLoop(std::stop_token workerStop) {
  const auto heartbeat = settings_.heartbeat;
  auto nextBeat = std::chrono::steady_clock::now() + heartbeat;
  std::unique_lock lock(mutex_);
  while (!workerStop.stop_requested()) {
    changed_.wait_until(lock, workerStop, nextBeat, [this] { return passRequested_; });
    if (workerStop.stop_requested()) break;
    if (!passRequested_) {
      // The heartbeat: guarantees a pass soon after a hold or a retry time runs out.
      nextBeat = std::chrono::steady_clock::now() + heartbeat;
      if (!isRunning_) continue;
    }
    passRequested_ = false;
    passRunning_ = true;
    const std::stop_token passStop = passStop_.get_token();
    lock.unlock();
    runPass(passStop);
    lock.lock();
    passRunning_ = false;
    // A beat that fell inside the pass was dropped, as any request made during a pass is.
    while (nextBeat <= std::chrono::steady_clock::now()) nextBeat += heartbeat;
    changed_.notify_all();
  }
}

void UploadQueue::runPass(const std::stop_token& stop) {
  if (!isOnline_) {
    log_.debug("skipping pass: offline");
    return;
  }
  if (!auth_->isSignedIn()) {
    markAllPendingSignedOut();
    return;
  }
  std::set<std::string> processed;
  while (isRunning()) {
    auto item = nextItem(processed);
    if (!item) break;
    processed.insert(item->id());
    process(std::move(*item), stop);
  }
}

std::optional<VaultItem> UploadQueue::nextItem(const std::set<std::string>& alreadyProcessed) {
  const Date now = settings_.now();
  std::set<std::string> parked;
  {
    std::lock_guard lock(mutex_);
    parked = parked_;
  }
  return vault_->withLockedScan([&](const std::vector<VaultItem>& items) -> std::optional<VaultItem> {
    std::vector<const VaultItem*> eligible;
    for (const VaultItem& item : items) {
      const RecordingManifest& manifest = item.manifest;
      if (!isEligibleState(manifest.state)) continue;
      if (manifest.nextAttemptAt && *manifest.nextAttemptAt > now) continue;
      if (manifest.holdUploadUntil && *manifest.holdUploadUntil > now) continue;
      if (alreadyProcessed.contains(manifest.id) || parked.contains(manifest.id)) continue;
      if (!item.videoExists()) continue;
      // A trim (or a recording) in this or another process is rewriting the movie.
      if (RecordingLock::isHeld(item.directory)) continue;
      eligible.push_back(&item);
    }
    if (eligible.empty()) return std::nullopt;
    std::stable_sort(eligible.begin(), eligible.end(), [](const VaultItem* a, const VaultItem* b) {
      return a->manifest.createdAt < b->manifest.createdAt;
    });
    return *eligible.front();
  });
}

void UploadQueue::process(VaultItem item, const std::stop_token& stop) {
  const std::string id = item.id();
  setCurrentItem(id);
  std::exception_ptr failure;
  try {
    if (item.manifest.state != RecordingState::uploaded) item = uploadBytes(item, stop);
    if (!item.manifest.shareURL) item = saveToLibrary(item, stop);
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure) {
    verify(item, stop);
  } else {
    try {
      std::rethrow_exception(failure);
    } catch (const CancellationError&) {
      vault_->update(id, [](RecordingManifest& manifest) { manifest.state = stateAfterInterruption(manifest); });
    } catch (...) {
      handle(std::current_exception(), id);
    }
  }
  setCurrentItem(std::nullopt);
  notifyChange();
}

VaultItem UploadQueue::uploadBytes(const VaultItem& item, const std::stop_token& stop) {
  const std::string id = item.id();
  const auto started = vault_->update(id, [](RecordingManifest& manifest) {
    manifest.state = RecordingState::uploading;
    manifest.attemptCount += 1;
    manifest.lastError.reset();
    manifest.nextAttemptAt.reset();
  });
  const RecordingManifest manifest = started ? started->manifest : item.manifest;

  ProgressThrottle throttle;
  ProgressHandler observer;
  {
    std::lock_guard lock(mutex_);
    observer = onProgress_;
  }

  const auto ticketProvider = [&]() -> UploadTicket {
    std::optional<std::string> uid = manifest.uploadUID;
    if (!uid) {
      if (const auto current = vault_->item(id)) uid = current->manifest.uploadUID;
    }
    const UploadTicket ticket = uid ? api_->resignUploadTicket(*uid, stop) : api_->createUploadTicket(manifest.title, stop);
    vault_->update(id, [&](RecordingManifest& m) { m.uploadUID = ticket.uid; });
    return ticket;
  };
  const auto onUploadURL = [&](const std::string& uploadURL) {
    vault_->update(id, [&](RecordingManifest& m) { m.tusUploadURL = uploadURL; });
  };
  const auto onProgress = [&](const TusUploader::Progress& progress) {
    if (throttle.shouldFire(settings_.now())) {
      vault_->update(id, [&](RecordingManifest& m) { m.uploadedBytes = progress.uploadedBytes; });
    }
    if (observer) observer(id, progress);
  };
  std::optional<std::string> resumeFrom;
  if (manifest.tusUploadURL && Url::parse(*manifest.tusUploadURL)) resumeFrom = manifest.tusUploadURL;

  const TusUploader::Outcome outcome =
      uploader_->upload(item.videoPath(), manifest.title, ticketProvider, resumeFrom, onUploadURL, onProgress, stop);

  const auto uploaded = vault_->update(id, [&](RecordingManifest& m) {
    m.uploadedBytes = outcome.bytesSent;
    m.tusUploadURL = outcome.uploadURL;
    m.state = RecordingState::uploaded;
  });
  if (!uploaded) throw LocalUploadError("That recording disappeared from the vault.");
  log_.info("uploaded {} bytes for {}", outcome.bytesSent, id);
  return *uploaded;
}

VaultItem UploadQueue::saveToLibrary(const VaultItem& item, const std::stop_token& stop) {
  const RecordingManifest& manifest = item.manifest;
  if (!manifest.uploadUID) throw LocalUploadError("This upload lost track of its video id.");
  const std::string uid = *manifest.uploadUID;
  const auto link = api_->saveRecording(uid, manifest.title, manifest.durationSec, stop);
  const std::string shareURL = link ? *link : settings_.siteURL->appendingPathComponent("v/" + uid).text();
  const auto saved = vault_->update(item.id(), [&](RecordingManifest& m) {
    m.shareURL = shareURL;
    m.state = RecordingState::uploaded;
  });
  return saved.value_or(item);
}

void UploadQueue::verify(const VaultItem& item, const std::stop_token& stop) {
  if (!item.manifest.uploadUID) return;
  const std::string id = item.id();
  try {
    const VideoStatus status = api_->videoStatus(*item.manifest.uploadUID, stop);
    vault_->update(id, [&](RecordingManifest& m) {
      m.state = RecordingState::verified;
      if (status.durationSec > 0) m.durationSec = status.durationSec;
      m.lastError.reset();
      m.nextAttemptAt.reset();
    });
    log_.info("verified {}", id);
  } catch (const CancellationError&) {
    // Stopped: the item stays `uploaded` and is verified by a later pass.
  } catch (const std::exception& error) {
    const Date next = settings_.now() + kVerificationRetryDelay;
    vault_->update(id, [&](RecordingManifest& m) {
      m.state = RecordingState::uploaded;
      m.nextAttemptAt = next;
    });
    log_.error("verification pending for {}: {}", id, error.what());
  }
}

void UploadQueue::handle(std::exception_ptr error, const std::string& id) {
  const auto current = vault_->item(id);
  const int attempts = current ? current->manifest.attemptCount : 1;
  const auto park = [&](const std::string& text, std::optional<Date> next) {
    vault_->update(id, [&](RecordingManifest& m) {
      m.state = RecordingState::needsAttention;
      m.lastError = text;
      m.nextAttemptAt = next;
    });
  };
  try {
    std::rethrow_exception(std::move(error));
  } catch (const AuthError& authError) {
    park(std::string(authError.what()) + " Your recording is safe — sign in and it'll upload.", std::nullopt);
  } catch (const HTTPError& httpError) {
    if (httpError.code() == "limit_reached") {
      park(httpError.message() + " This recording is saved on your computer until then.", std::nullopt);
    } else if (httpError.isTransient()) {
      scheduleRetry(id, attempts, httpError.message());
    } else {
      park(httpError.message() + " Your recording is still on this computer.", settings_.now() + kRefusedRetryDelay);
    }
  } catch (const LocalUploadError& local) {
    // Waiting changes nothing here: the recording waits for the user (Retry) or the
    // next launch instead of being tried again on every pass.
    {
      std::lock_guard lock(mutex_);
      parked_.insert(id);
    }
    park(std::string(local.what()) + " Your recording is still on this computer.", std::nullopt);
    log_.error("{} needs the user: {}", id, local.what());
  } catch (const TransportError& transport) {
    // Offline, refused, timed out: the transport's sentence, tried again on the back-off.
    scheduleRetry(id, attempts, transport.what());
  } catch (const std::exception& other) {
    // A library's wording is for the log, not for the user.
    log_.error("upload of {} failed: {}", id, other.what());
    scheduleRetry(id, attempts, "Something unexpected went wrong.");
  } catch (...) {
    scheduleRetry(id, attempts, "Something unexpected went wrong.");
  }
}

void UploadQueue::scheduleRetry(const std::string& id, int attempts, const std::string& reason) {
  const std::int64_t delay = backoff[std::size_t(std::min(std::max(attempts - 1, 0), 6))];
  const Date next = settings_.now() + std::chrono::seconds(delay);
  vault_->update(id, [&](RecordingManifest& m) {
    m.state = stateAfterInterruption(m);
    m.lastError = reason;
    m.nextAttemptAt = next;
  });
  log_.error("retrying {} in {}s: {}", id, delay, reason);
}

void UploadQueue::markAllPendingSignedOut() {
  const auto items = vault_->withLockedScan([](const std::vector<VaultItem>& all) { return all; });
  for (const VaultItem& item : items) {
    if (!isUploadPending(item.manifest.state) || item.manifest.lastError) continue;
    vault_->update(item.id(), [](RecordingManifest& m) { m.lastError = std::string(kSignedOutText); });
  }
}

void UploadQueue::setCurrentItem(std::optional<std::string> id) {
  std::lock_guard lock(mutex_);
  currentItemID_ = std::move(id);
}

void UploadQueue::notifyChange() {
  ChangeHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = onChange_;
  }
  if (handler) handler();
}

}  // namespace tolvane
