#include "kit/upload/upload_queue.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/kit/upload/fake_upload_service.h"
#include "tests/kit/upload/upload_queue_harness.h"

namespace tolvane {
namespace {

using testing::FakeUploadService;
using namespace std::chrono_literals;

constexpr std::int64_t kChunk = 4096;

AuthSession validSession() {
  return AuthSession{"access", "refresh", std::chrono::system_clock::now() + 1h, "me@test"};
}

double secondsFrom(Date from, const std::optional<Date>& to) {
  return to ? std::chrono::duration<double>(*to - from).count() : -1e9;
}

class UploadQueueTest : public testing::UploadQueueHarness {
 protected:
  UploadQueueTest() {
    storage_->save(validSession());
    makeQueue(service_, service_, *Url::parse(FakeUploadService::site), kChunk);
  }

  std::shared_ptr<FakeUploadService> service_ = std::make_shared<FakeUploadService>();
};

TEST_F(UploadQueueTest, OldestFirstHeldOrLockedItemsWaitAndMovielessItemsAreLeftAlone) {
  service_->answer("POST /api/recordings", 200, R"({"ok":true})");
  const VaultItem held = addRecording(100, 300);
  vault_->update(held.id(), [&](RecordingManifest& m) { m.holdUploadUntil = now() + 90s; });
  const VaultItem locked = addRecording(100, 500);
  auto trimming = RecordingLock::tryAcquire(locked.directory);  // being cut, maybe by another process
  const VaultItem newer = addRecording(100, 10);
  const VaultItem older = addRecording(100, 20);
  const VaultItem missing = addRecording(100, 400);
  std::filesystem::remove(missing.videoPath());

  pass();

  EXPECT_EQ(manifest(older).uploadUID, "video-1");
  EXPECT_EQ(manifest(older).shareURL, "https://tolvane.test/v/video-1") << "made from the site without a link";
  EXPECT_EQ(manifest(newer).uploadUID, "video-2");
  EXPECT_EQ(std::ranges::count(service_->calls(), "POST /api/stream/upload-url"), 2);
  EXPECT_EQ(manifest(held).state, RecordingState::ready);
  EXPECT_EQ(manifest(missing).state, RecordingState::ready);
  EXPECT_EQ(manifest(locked).state, RecordingState::ready);

  skewSec_ += 91;
  trimming.reset();
  pass();
  EXPECT_EQ(manifest(held).state, RecordingState::verified);
  EXPECT_EQ(manifest(locked).state, RecordingState::verified);
}

TEST_F(UploadQueueTest, TransientFailuresBackOffByAttempt) {
  service_->answer("POST /api/stream/upload-url", 503, R"({"error":"Service unavailable."})");
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
  }
  // Not eligible before its retry time.
  const std::size_t calls = service_->calls().size();
  pass();
  EXPECT_EQ(service_->calls().size(), calls);
}

// A refused save parks the item for ten minutes. Retry clears that, the hold and the
// attempt count, and goes at once, even when it comes while the pass that parked the
// item is still running: a kick during a pass makes one more pass.
TEST_F(UploadQueueTest, ARefusedSaveWaitsTenMinutesAndRetryDuringThePassGoesAtOnce) {
  const VaultItem item = addRecording(5000);
  service_->answer("POST /api/recordings", 404, R"({"error":"That video is unknown."})");
  const Date before = now();
  std::atomic<int> changes = 0;
  queue_->setOnChange([&] {
    if (changes++ > 0) return;
    const RecordingManifest m = manifest(item);
    EXPECT_EQ(m.state, RecordingState::needsAttention);
    EXPECT_EQ(m.lastError, "That video is unknown. Your recording is still on this computer.");
    EXPECT_NEAR(secondsFrom(before, m.nextAttemptAt), 600, 2);
    vault_->update(item.id(), [&](RecordingManifest& r) { r.holdUploadUntil = now() + 1h; });
    service_->answer("");
    queue_->retryNow(item.id());
    queue_->kick(UploadQueue::Trigger::manual);  // coalesced with the one above
  });
  pass();
  const RecordingManifest m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::verified);
  EXPECT_EQ(m.attemptCount, 1);  // reset to 0, then one more attempt
  EXPECT_EQ(changes.load(), 2);
  EXPECT_EQ(std::ranges::count(service_->calls(), "POST /tus"), 1);
  EXPECT_EQ(std::ranges::count(service_->calls(), "HEAD /tus/*"), 1);
}

// Failures that need the user park the item without a retry time. Each pass tries it
// once more when the fix lies elsewhere (signing in, deleting recordings); a condition
// on this computer waits for Retry instead (which ARefusedSave... shows working), and no
// library wording reaches the manifest.
TEST_F(UploadQueueTest, FailuresThatNeedTheUserParkTheItemWithoutARetryTime) {
  const std::string stillHere = " Your recording is still on this computer.";
  struct Case {
    std::function<void(const VaultItem&)> fail;
    std::string message;
    int attemptsAfterTwoPasses;
  };
  const Case cases[] = {
      {[this](const VaultItem&) {
         service_->answer("POST /api/stream/upload-url", 403,
                          R"({"error":"You've used all 25 recordings.","code":"limit_reached"})");
       },
       "You've used all 25 recordings. This recording is saved on your computer until then.", 2},
      {[this](const VaultItem&) {
         service_->answer("");
         auth_->adopt(AuthSession{"old", "refresh", std::chrono::system_clock::now() - 1h, std::nullopt});
       },
       "Tolvane couldn't refresh your sign-in: network error (404) Your recording is safe — sign in and it'll upload.",
       2},
      {[this](const VaultItem& item) {
         auth_->adopt(validSession());
         std::filesystem::resize_file(item.videoPath(), 0);
       },
       "That recording file is empty." + stillHere, 1},
      {[](const VaultItem& item) {
         std::filesystem::remove(item.videoPath());
         std::filesystem::create_directory(item.videoPath());  // opens, but reading fails
       },
       "Couldn't read the recording's video file." + stillHere, 1},
  };
  std::optional<VaultItem> item;
  for (const auto& c : cases) {
    if (item) vault_->update(item->id(), [](RecordingManifest& r) { r.state = RecordingState::verified; });
    item = addRecording(100);
    c.fail(*item);
    pass();
    const RecordingManifest m = manifest(*item);
    EXPECT_EQ(m.state, RecordingState::needsAttention);
    EXPECT_EQ(m.lastError, c.message);
    EXPECT_FALSE(m.nextAttemptAt.has_value());
    pass();
    EXPECT_EQ(manifest(*item).attemptCount, c.attemptsAfterTwoPasses) << c.message;
  }
}

// Offline, a pass does nothing; the network coming back starts one, which, signed out,
// marks what waits (unless it already says why) and sends nothing. Signing in starts
// the uploads.
TEST_F(UploadQueueTest, NothingGoesOfflineOrSignedOutAndTheNetworkOrASignInStartsAPass) {
  network_.online = false;
  auth_->signOut();
  // A recording that went on without a sound is no problem: it is marked like any other.
  const VaultItem fresh =
      *vault_->update(addRecording(100, 20).id(), [&](RecordingManifest& m) { m.notice = "No microphone sound."; });
  const VaultItem failed = addRecording(100, 10);
  vault_->update(failed.id(), [](RecordingManifest& m) { m.lastError = "Earlier problem."; });
  pass();
  EXPECT_EQ(manifest(fresh), fresh.manifest);

  network_.report(true);
  queue_->waitUntilIdle();
  EXPECT_TRUE(service_->calls().empty());
  EXPECT_EQ(manifest(fresh).lastError, "Signed out — sign in and this uploads automatically.");
  EXPECT_EQ(manifest(fresh).state, RecordingState::ready);
  EXPECT_EQ(manifest(failed).lastError, "Earlier problem.");

  auth_->adopt(validSession());
  queue_->kick(UploadQueue::Trigger::auth);
  queue_->waitUntilIdle();
  EXPECT_EQ(manifest(fresh).state, RecordingState::verified);
  EXPECT_FALSE(manifest(fresh).lastError.has_value());
  EXPECT_EQ(manifest(fresh).notice, "No microphone sound.") << "the upload keeps what is said about the recording";
  EXPECT_EQ(manifest(failed).state, RecordingState::verified);
}

TEST_F(UploadQueueTest, AnUploadedItemIsOnlyVerifiedAndAFailedCheckComesBackInAMinute) {
  const VaultItem item = addRecording(100);
  vault_->update(item.id(), [](RecordingManifest& m) {
    m.state = RecordingState::uploaded;
    m.uploadUID = "video-9";
    m.shareURL = "https://tolvane.test/share/video-9";
  });
  service_->answer("GET /api/stream/video/video-9", 500, "");
  const Date before = now();
  pass();
  RecordingManifest m = manifest(item);
  EXPECT_EQ(service_->calls(), std::vector<std::string>{"GET /api/stream/video/video-9"});
  EXPECT_EQ(m.state, RecordingState::uploaded);
  EXPECT_NEAR(secondsFrom(before, m.nextAttemptAt), 60, 2);
  EXPECT_EQ(m.attemptCount, 0);

  service_->answer("");
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
  service_->holdPatchesFrom(kChunk);
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

  service_->holdPatchesFrom(std::nullopt);
  queue_->start();
  queue_->waitUntilIdle();
  m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::verified);
  EXPECT_EQ(std::ranges::count(service_->calls(), "POST /tus"), 1);
  EXPECT_EQ(service_->storedBytes("video-1"), testing::readFile(item.videoPath()));
}

}  // namespace
}  // namespace tolvane
