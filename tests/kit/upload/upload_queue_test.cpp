#include "kit/upload/upload_queue.h"

#include <gtest/gtest.h>

#include "kit/auth/auth_store.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/base/memory_log_sink.h"
#include "kit/upload/tolvane_api.h"
#include "kit/vault/recording_vault.h"
#include "tests/kit/upload/fake_upload_service.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::FakeUploadService;
using namespace std::chrono_literals;

constexpr std::int64_t kChunk = 4096;
constexpr const char* kSignedOut = "Signed out — sign in and this uploads automatically.";

// Reports whatever the test says, synchronously, to the monitor the queue started.
struct FakeNetwork {
  std::mutex mutex;
  bool online;
  NetworkMonitor::Handler handler;

  void report(bool now) {
    std::lock_guard lock(mutex);
    online = now;
    if (handler) handler(now);
  }
  struct Monitor final : NetworkMonitor {
    explicit Monitor(FakeNetwork& fake) : network(fake) {}
    void start(Handler handler) override {
      std::lock_guard lock(network.mutex);
      network.handler = handler;
      handler(network.online);
    }
    void cancel() override {
      std::lock_guard lock(network.mutex);
      network.handler = nullptr;
    }
    FakeNetwork& network;
  };
};

Url site() { return *Url::parse(FakeUploadService::site); }

AuthSession validSession() { return AuthSession{"access", "refresh", std::chrono::system_clock::now() + 1h, "me@test"}; }

double secondsFrom(Date from, const std::optional<Date>& to) {
  return to ? std::chrono::duration<double>(*to - from).count() : -1e9;
}

class UploadQueueTest : public ::testing::Test {
 protected:
  explicit UploadQueueTest(bool online = true)
      : vault_(std::make_shared<RecordingVault>(dir_ / "vault")),
        service_(std::make_shared<FakeUploadService>()),
        storage_(std::make_shared<MemorySessionStorage>(validSession())),
        auth_(std::make_shared<AuthStore>(storage_, service_, site(), "anon")),
        network_{{}, online, {}} {
    UploadQueue::Settings settings;
    settings.siteURL = site();
    settings.now = [this] { return now(); };
    settings.makeNetworkMonitor = [this] { return std::make_unique<FakeNetwork::Monitor>(network_); };
    settings.heartbeat = 1h;  // passes only when a test asks for one
    queue_ = std::make_unique<UploadQueue>(vault_, std::make_shared<TolvaneAPI>(auth_, service_, site()),
                                           auth_, std::make_shared<TusUploader>(service_, kChunk), settings);
  }
  ~UploadQueueTest() override { queue_->stop(); }

  Date now() const { return std::chrono::system_clock::now() + std::chrono::seconds(skewSec_.load()); }

  // A finished recording of `bytes` bytes in state `ready`, created `ageSec` ago.
  VaultItem addRecording(std::size_t bytes, std::int64_t ageSec = 0) {
    const VaultItem created = vault_->createRecording("Demo", false, true, false);
    std::string contents(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) contents[i] = char(i * 7 % 251);
    testing::writeFile(created.videoPath(), contents);
    return *vault_->update(created.id(), [&](RecordingManifest& m) {
      m.state = RecordingState::ready;
      m.durationSec = 12;
      m.createdAt -= std::chrono::seconds(ageSec);
    });
  }

  RecordingManifest manifest(const VaultItem& item) const { return vault_->item(item.id())->manifest; }

  // Answers `method` requests to URLs ending in `path` instead of the service.
  void answer(const std::string& method, const std::string& path, std::int64_t status, const std::string& body) {
    service_->setOverride([=](const HTTPRequest& request) -> std::optional<HTTPResponse> {
      if (request.method == method && request.url.ends_with(path)) return HTTPResponse{status, {}, body};
      return std::nullopt;
    });
  }

  void pass() {
    if (!started_) {
      started_ = true;
      queue_->start();
    } else {
      queue_->kick(UploadQueue::Trigger::manual);
    }
    queue_->waitUntilIdle();
  }

  testing::TempDir dir_;
  std::shared_ptr<RecordingVault> vault_;
  std::shared_ptr<FakeUploadService> service_;
  std::shared_ptr<MemorySessionStorage> storage_;
  std::shared_ptr<AuthStore> auth_;
  FakeNetwork network_;
  std::atomic<std::int64_t> skewSec_{0};
  std::unique_ptr<UploadQueue> queue_;
  bool started_ = false;
};

TEST_F(UploadQueueTest, UploadsSavesAndVerifiesAFinishedRecording) {
  const auto log = MemoryLogSink::attach();
  const VaultItem item = addRecording(10000);
  int changes = 0;
  queue_->setOnChange([&] { ++changes; });

  pass();

  const RecordingManifest m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::verified);
  EXPECT_EQ(m.uploadUID, "video-1");
  EXPECT_EQ(m.tusUploadURL, "https://tolvane.test/tus/u1");
  EXPECT_EQ(m.shareURL, "https://tolvane.test/share/video-1");
  EXPECT_EQ(m.uploadedBytes, 10000);
  EXPECT_EQ(m.durationSec, 12.5);
  EXPECT_EQ(m.attemptCount, 1);
  EXPECT_FALSE(m.lastError.has_value());
  EXPECT_EQ(service_->storedBytes("video-1"), testing::readFile(item.videoPath()));
  EXPECT_EQ(service_->calls(),
            (std::vector<std::string>{"POST /api/stream/upload-url", "POST /tus", "PATCH /tus/*", "PATCH /tus/*",
                                      "PATCH /tus/*", "POST /api/recordings", "GET /api/stream/video/video-1"}));
  EXPECT_EQ(log->messages("upload"),
            (std::vector<std::string>{"uploaded 10000 bytes for " + item.id(), "verified " + item.id()}));
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(queue_->isUploading());
}

TEST_F(UploadQueueTest, OldestFirstHeldItemsWaitAndUnfinishedOrMovielessItemsAreLeftAlone) {
  answer("POST", "/api/recordings", 200, R"({"ok":true})");
  const VaultItem held = addRecording(100, 300);
  vault_->update(held.id(), [&](RecordingManifest& m) { m.holdUploadUntil = now() + 90s; });
  const VaultItem newer = addRecording(100, 10);
  const VaultItem older = addRecording(100, 20);
  const VaultItem missing = addRecording(100, 400);
  std::filesystem::remove(missing.videoPath());
  const VaultItem recording = addRecording(100, 500);
  vault_->update(recording.id(), [](RecordingManifest& m) { m.state = RecordingState::recording; });

  pass();

  EXPECT_EQ(manifest(older).uploadUID, "video-1");
  EXPECT_EQ(manifest(older).shareURL, "https://tolvane.test/v/video-1") << "made from the site without a link";
  EXPECT_EQ(manifest(newer).uploadUID, "video-2");
  EXPECT_EQ(service_->count("POST /api/stream/upload-url"), 2u);
  EXPECT_EQ(manifest(held).state, RecordingState::ready);
  EXPECT_FALSE(manifest(held).uploadUID.has_value());
  EXPECT_EQ(manifest(missing).state, RecordingState::ready);
  EXPECT_EQ(manifest(recording).state, RecordingState::recording);

  skewSec_ += 91;
  pass();
  EXPECT_EQ(manifest(held).state, RecordingState::verified);
}

TEST_F(UploadQueueTest, TransientFailuresBackOffByAttempt) {
  const auto log = MemoryLogSink::attach();
  answer("POST", "/api/stream/upload-url", 503, R"({"error":"Service unavailable."})");
  const VaultItem item = addRecording(100);
  const std::vector<std::int64_t> expected = {15, 45, 120, 300, 900, 1800, 3600, 3600};
  for (std::size_t attempt = 0; attempt < expected.size(); ++attempt) {
    vault_->update(item.id(), [&](RecordingManifest& m) {
      m.attemptCount = int(attempt);
      m.nextAttemptAt.reset();
    });
    const Date before = now();
    pass();
    const RecordingManifest m = manifest(item);
    EXPECT_EQ(m.state, RecordingState::ready);
    EXPECT_EQ(m.attemptCount, int(attempt) + 1);
    EXPECT_EQ(m.lastError, "Service unavailable.");
    EXPECT_NEAR(secondsFrom(before, m.nextAttemptAt), double(expected[attempt]), 2.0) << "attempt " << attempt + 1;
    EXPECT_EQ(log->messages("upload").back(),
              "retrying " + item.id() + " in " + std::to_string(expected[attempt]) + "s: Service unavailable.");
  }
  // Not eligible before its retry time.
  const std::size_t calls = service_->calls().size();
  pass();
  EXPECT_EQ(service_->calls().size(), calls);
}

TEST_F(UploadQueueTest, ARetryAfterBytesWereSentKeepsTheItemUploading) {
  const VaultItem item = addRecording(10000);
  service_->setOverride([](const HTTPRequest& request) -> std::optional<HTTPResponse> {
    if (request.method == "PATCH" && request.header("Upload-Offset") == "4096") return HTTPResponse{502, {}, "<html>"};
    return std::nullopt;
  });
  pass();
  RecordingManifest m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::ready);  // the one progress report persisted was at 0 bytes
  EXPECT_EQ(m.lastError, "Upload failed (502): <html>");

  vault_->update(item.id(), [](RecordingManifest& r) { r.uploadedBytes = 4096; });
  skewSec_ += 20;
  pass();
  m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::uploading);
  EXPECT_EQ(m.attemptCount, 2);
  EXPECT_EQ(service_->count("HEAD /tus/*"), 1u);  // the second attempt resumed
}

TEST_F(UploadQueueTest, ARefusedSaveWaitsTenMinutesAndRetryNowResumes) {
  const VaultItem item = addRecording(5000);
  answer("POST", "/api/recordings", 404, R"({"error":"That video is unknown."})");
  const Date before = now();
  pass();
  RecordingManifest m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::needsAttention);
  EXPECT_EQ(m.lastError, "That video is unknown. Your recording is still on this computer.");
  EXPECT_NEAR(secondsFrom(before, m.nextAttemptAt), 600, 2);
  EXPECT_EQ(m.uploadedBytes, 5000);

  // retryNow clears the hold and the retry state, and goes at once.
  vault_->update(item.id(), [&](RecordingManifest& r) {
    r.attemptCount = 5;
    r.holdUploadUntil = now() + 1h;
  });
  service_->setOverride(nullptr);
  queue_->retryNow(item.id());
  queue_->waitUntilIdle();
  m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::verified);
  EXPECT_EQ(m.attemptCount, 1);  // reset to 0, then one more attempt
  EXPECT_EQ(service_->count("POST /tus"), 1u);
  EXPECT_EQ(service_->count("HEAD /tus/*"), 1u);
}

// Each pass tries a parked item once more, and only once.
TEST_F(UploadQueueTest, FailuresThatNeedTheUserParkTheItemWithoutARetryTime) {
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[this] {
         answer("POST", "/api/stream/upload-url", 403,
                R"({"error":"You've used all 25 recordings.","code":"limit_reached"})");
       },
       "You've used all 25 recordings. This recording is saved on your computer until then."},
      {[this] {
         service_->setOverride(nullptr);
         storage_->save(AuthSession{"old", "refresh", std::chrono::system_clock::now() - 1h, std::nullopt});
       },
       "Tolvane couldn't refresh your sign-in: network error (404) Your recording is safe — sign in and it'll upload."},
  };
  for (const auto& [fail, message] : cases) {
    fail();
    const VaultItem item = addRecording(100);
    const std::size_t before = service_->calls().size();
    pass();
    const RecordingManifest m = manifest(item);
    EXPECT_EQ(m.state, RecordingState::needsAttention);
    EXPECT_EQ(m.lastError, message);
    EXPECT_FALSE(m.nextAttemptAt.has_value());
    EXPECT_EQ(service_->calls().size(), before + 1);
    pass();
    EXPECT_EQ(service_->calls().size(), before + 2);
    vault_->update(item.id(), [](RecordingManifest& r) { r.state = RecordingState::verified; });
  }
}

TEST_F(UploadQueueTest, SignedOutItemsGetTheSignedOutTextAndGoOnceSignedIn) {
  auth_->signOut();
  const VaultItem fresh = addRecording(100, 20);
  const VaultItem failed = addRecording(100, 10);
  vault_->update(failed.id(), [](RecordingManifest& m) { m.lastError = "Earlier problem."; });
  const VaultItem done = addRecording(100, 5);
  vault_->update(done.id(), [](RecordingManifest& m) { m.state = RecordingState::verified; });

  pass();

  EXPECT_TRUE(service_->calls().empty());
  EXPECT_EQ(manifest(fresh).lastError, kSignedOut);
  EXPECT_EQ(manifest(fresh).state, RecordingState::ready);
  EXPECT_EQ(manifest(failed).lastError, "Earlier problem.");
  EXPECT_FALSE(manifest(done).lastError.has_value());

  auth_->adopt(validSession());
  queue_->kick(UploadQueue::Trigger::auth);
  queue_->waitUntilIdle();
  EXPECT_EQ(manifest(fresh).state, RecordingState::verified);
  EXPECT_FALSE(manifest(fresh).lastError.has_value());
  EXPECT_EQ(manifest(failed).state, RecordingState::verified);
}

TEST_F(UploadQueueTest, AnUploadedItemIsOnlyVerifiedAndAFailedCheckComesBackInAMinute) {
  const auto log = MemoryLogSink::attach();
  const VaultItem item = addRecording(100);
  vault_->update(item.id(), [](RecordingManifest& m) {
    m.state = RecordingState::uploaded;
    m.uploadUID = "video-9";
    m.shareURL = "https://tolvane.test/share/video-9";
  });
  answer("GET", "/api/stream/video/video-9", 500, "");
  const Date before = now();
  pass();
  RecordingManifest m = manifest(item);
  EXPECT_EQ(service_->calls(), std::vector<std::string>{"GET /api/stream/video/video-9"});
  EXPECT_EQ(m.state, RecordingState::uploaded);
  EXPECT_NEAR(secondsFrom(before, m.nextAttemptAt), 60, 2);
  EXPECT_EQ(m.attemptCount, 0);
  EXPECT_TRUE(log->contains("upload", LogLevel::error,
                            "verification pending for " + item.id() + ": Tolvane returned an error (500)."));

  service_->setOverride(nullptr);
  skewSec_ += 61;
  pass();
  m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::verified);
  EXPECT_FALSE(m.nextAttemptAt.has_value());
}

TEST_F(UploadQueueTest, StopCancelsTheTransferAndTheNextStartResumes) {
  const VaultItem item = addRecording(3 * kChunk);
  vault_->update(item.id(), [](RecordingManifest& m) { m.lastError = "Earlier problem."; });
  // Every report gets past the throttle, so the bytes of the first chunk are persisted.
  queue_->setOnProgress([this](const std::string&, const TusUploader::Progress&) { skewSec_ += 3; });
  service_->setOverride([this](const HTTPRequest& request) -> std::optional<HTTPResponse> {
    if (request.method == "PATCH" && request.header("Upload-Offset") != "0") service_->holdPatches(true);
    return std::nullopt;
  });
  queue_->start();
  service_->waitForHeldPatch();
  EXPECT_EQ(queue_->uploadingID(), item.id());
  queue_->stop();

  RecordingManifest m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::uploading);
  EXPECT_EQ(m.uploadedBytes, kChunk);
  EXPECT_EQ(m.attemptCount, 1);
  EXPECT_FALSE(m.lastError.has_value());  // cleared when the attempt began, not set by the stop
  EXPECT_FALSE(m.nextAttemptAt.has_value());

  service_->setOverride(nullptr);
  service_->holdPatches(false);
  queue_->start();
  queue_->waitUntilIdle();
  m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::verified);
  EXPECT_EQ(service_->count("POST /tus"), 1u);
  EXPECT_EQ(service_->storedBytes("video-1"), testing::readFile(item.videoPath()));
}

class OfflineUploadQueueTest : public UploadQueueTest {
 protected:
  OfflineUploadQueueTest() : UploadQueueTest(false) {}
};

TEST_F(OfflineUploadQueueTest, PassesWaitForTheNetworkAndItsReturnStartsOne) {
  const auto log = MemoryLogSink::attach();
  const VaultItem item = addRecording(100);
  pass();
  EXPECT_TRUE(service_->calls().empty());
  EXPECT_EQ(manifest(item), item.manifest);
  EXPECT_TRUE(log->contains("upload", LogLevel::debug, "skipping pass: offline"));
  EXPECT_FALSE(queue_->isOnline());

  network_.report(true);
  queue_->waitUntilIdle();
  EXPECT_TRUE(log->contains("upload", LogLevel::info, "network is back — resuming uploads"));
  EXPECT_EQ(manifest(item).state, RecordingState::verified);

  log->clear();
  network_.report(true);  // no change, no message
  EXPECT_TRUE(log->messages("upload").empty());
}

TEST(ProgressThrottle, FiresFirstThenAtMostEveryTwoSeconds) {
  ProgressThrottle throttle;
  const Date start = std::chrono::system_clock::now();
  EXPECT_TRUE(throttle.shouldFire(start));
  EXPECT_FALSE(throttle.shouldFire(start + 1999ms));
  EXPECT_TRUE(throttle.shouldFire(start + 2000ms));
  EXPECT_FALSE(throttle.shouldFire(start + 3000ms));
  EXPECT_TRUE(throttle.shouldFire(start + 4500ms));
}

}  // namespace
}  // namespace tolvane
