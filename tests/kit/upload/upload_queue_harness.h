#pragma once

#include <gtest/gtest.h>

#include "kit/auth/auth_store.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/config/config.h"
#include "kit/upload/tolvane_api.h"
#include "kit/upload/upload_queue.h"
#include "kit/vault/recording_vault.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// The upload queue over a vault in a temporary folder, with a clock the test moves
// forward, a network the test switches, and no heartbeat: passes happen when the test
// asks. The unit tests put a fake service behind it, the integration tests tolvane-server.
class UploadQueueHarness : public ::testing::Test {
 protected:
  // The network as the test says; the queue's monitor hears it at once. Only the test's
  // thread starts and stops the queue and reports, so nothing here needs a lock.
  struct FakeNetwork {
    bool online = true;
    NetworkMonitor::Handler handler;
    void report(bool now) {
      online = now;
      if (handler) handler(now);
    }
  };
  struct FakeMonitor final : NetworkMonitor {
    explicit FakeMonitor(FakeNetwork& fake) : network(fake) {}
    void start(Handler handler) override { (network.handler = std::move(handler))(network.online); }
    void cancel() override { network.handler = nullptr; }
    FakeNetwork& network;
  };

  // `http` serves the service and its auth backend at `site`, `tus` the uploads.
  void makeQueue(std::shared_ptr<HTTPPerforming> http, std::shared_ptr<HTTPPerforming> tus, const Url& site,
                 std::int64_t chunkSize, TusUploader::Wait wait = {}) {
    auth_ = std::make_shared<AuthStore>(storage_, http, site.appendingPathComponent("auth/v1"), Config::authAnonKey());
    UploadQueue::Settings settings;
    settings.siteURL = site;
    settings.now = [this] { return now(); };
    settings.makeNetworkMonitor = [this] { return std::make_unique<FakeMonitor>(network_); };
    settings.heartbeat = std::chrono::hours(1);
    const auto uploader = std::make_shared<TusUploader>(std::move(tus), chunkSize, [this] { return now(); }, wait);
    queue_ = std::make_unique<UploadQueue>(vault_, std::make_shared<TolvaneAPI>(auth_, http, site), auth_, uploader,
                                           settings);
  }

  Date now() const { return std::chrono::system_clock::now() + std::chrono::seconds(skewSec_.load()); }

  // A finished recording of `bytes` bytes in state `ready`, created `ageSec` ago (and
  // after every recording made before it).
  VaultItem addRecording(std::size_t bytes, std::int64_t ageSec = 0) {
    const VaultItem created = vault_->createRecording("Demo", false, true, false);
    std::string contents(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) contents[i] = char(i * 7 % 251);
    writeFile(created.videoPath(), contents);
    return *vault_->update(created.id(), [&](RecordingManifest& m) {
      m.state = RecordingState::ready;
      m.durationSec = 12;
      m.createdAt += std::chrono::seconds(++made_ - ageSec);
    });
  }

  RecordingManifest manifest(const VaultItem& item) const { return vault_->item(item.id())->manifest; }

  // Starts the queue (one pass) or asks it for a pass, and waits for it to end.
  void pass() {
    if (std::exchange(started_, true))
      queue_->kick(UploadQueue::Trigger::manual);
    else
      queue_->start();
    queue_->waitUntilIdle();
  }

  TempDir dir_;
  std::shared_ptr<RecordingVault> vault_ = std::make_shared<RecordingVault>(dir_ / "vault");
  std::shared_ptr<MemorySessionStorage> storage_ = std::make_shared<MemorySessionStorage>();
  std::shared_ptr<AuthStore> auth_;
  FakeNetwork network_;
  std::atomic<std::int64_t> skewSec_{0};
  std::unique_ptr<UploadQueue> queue_;  // stops first, before what it uses goes
  bool started_ = false;
  int made_ = 0;
};

}  // namespace tolvane::testing
