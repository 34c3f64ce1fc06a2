// The upload queue against tolvane-server on loopback: every test ends with the server
// holding a byte-identical copy of the recording and the manifest `verified` with its
// share link.
#include <openssl/evp.h>

#include <random>

#include <gtest/gtest.h>

#include "kit/auth/auth_store.h"
#include "kit/auth/file_session_storage.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/config/config.h"
#include "kit/net/curl_http_client.h"
#include "kit/upload/tolvane_api.h"
#include "kit/upload/upload_queue.h"
#include "kit/vault/recording_vault.h"
#include "tests/integration/server_process.h"
#include "tests/integration/uploads/fault_proxy.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::FaultProxy;

constexpr std::int64_t kChunk = 1 << 20;

std::string sha256(const std::string& bytes) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) hex += fmt::format("{:02x}", digest[i]);
  return hex;
}

class AlwaysOnline final : public NetworkMonitor {
 public:
  void start(Handler handler) override { handler(true); }
  void cancel() override {}
};

// Counts the request bytes every PATCH put on the wire.
class CountingTransport final : public HTTPPerforming {
 public:
  explicit CountingTransport(std::shared_ptr<HTTPPerforming> inner) : inner_(std::move(inner)) {}
  HTTPResponse data(const HTTPRequest& request, std::stop_token stop) override { return inner_->data(request, stop); }
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop) override {
    patchedBytes += std::int64_t(body.size());
    return inner_->upload(request, body, stop);
  }
  std::atomic<std::int64_t> patchedBytes{0};

 private:
  std::shared_ptr<HTTPPerforming> inner_;
};

class UploadIntegrationTest : public ::testing::Test {
 protected:
  void launch(std::vector<std::string> serverFlags = {}, bool throughProxy = false) {
    server_ = std::make_unique<testing::ServerProcess>(std::move(serverFlags));
    if (throughProxy) proxy_ = std::make_unique<FaultProxy>(server_->port());
    site_ = proxy_ ? "http://127.0.0.1:" + std::to_string(proxy_->port()) : server_->url();
    server_->start(site_);

    uploadSession_ = std::make_shared<CountingTransport>(makeUploadSession());
    auth_ = std::make_shared<AuthStore>(storage_, http_, Url::parse(site_)->appendingPathComponent("auth/v1"), Config::authAnonKey());
    UploadQueue::Settings settings;
    settings.siteURL = Url::parse(site_);
    settings.now = [this] { return now(); };
    settings.makeNetworkMonitor = [] { return std::make_unique<AlwaysOnline>(); };
    settings.heartbeat = 1h;
    queue_ = std::make_unique<UploadQueue>(vault_, std::make_shared<TolvaneAPI>(auth_, http_, *Url::parse(site_)), auth_,
                                           std::make_shared<TusUploader>(uploadSession_, kChunk), settings);
  }
  void TearDown() override {
    if (queue_) queue_->stop();
  }

  Date now() const { return std::chrono::system_clock::now() + std::chrono::seconds(skewSec_.load()); }
  void signIn() { auth_->adopt(testing::ServerProcess::signIn(http_, site_)); }

  VaultItem addRecording(std::size_t bytes) {
    const VaultItem created = vault_->createRecording("Integration", true, true, false);
    std::string contents(bytes, '\0');
    std::mt19937_64 random(bytes);
    for (char& c : contents) c = char(random());
    testing::writeFile(created.videoPath(), contents);
    return *vault_->update(created.id(), [this](RecordingManifest& m) {
      m.state = RecordingState::ready;
      m.durationSec = 3;
      m.createdAt += std::chrono::seconds(++recordings_);  // oldest first, in the order made
    });
  }

  RecordingManifest manifest(const VaultItem& item) const { return vault_->item(item.id())->manifest; }

  void pass() {
    if (!started_) {
      started_ = true;
      queue_->start();
    } else {
      queue_->kick(UploadQueue::Trigger::manual);
    }
    queue_->waitUntilIdle();
  }

  // Runs passes, moving the clock past each retry time instead of waiting for it, until
  // the item is verified or stuck. Answers the retry delays seen, in seconds.
  std::vector<std::int64_t> runUntilVerified(const VaultItem& item) {
    std::vector<std::int64_t> delays;
    for (int i = 0; i < 12; ++i) {
      const Date before = now();
      pass();
      const RecordingManifest m = manifest(item);
      if (m.state == RecordingState::verified || !m.nextAttemptAt) break;
      const auto wait = std::chrono::duration_cast<std::chrono::seconds>(*m.nextAttemptAt - before).count();
      delays.push_back(std::llround(double(wait) / 5) * 5);  // whole multiples of 5 s: the table's unit
      skewSec_ += wait + 1;
    }
    return delays;
  }

  void expectVerifiedAndIdentical(const VaultItem& item) {
    const RecordingManifest m = manifest(item);
    EXPECT_EQ(m.state, RecordingState::verified) << m.lastError.value_or("");
    ASSERT_TRUE(m.shareURL.has_value());
    EXPECT_TRUE(m.shareURL->starts_with(site_)) << *m.shareURL;
    EXPECT_FALSE(m.lastError.has_value());
    ASSERT_TRUE(m.tusUploadURL.has_value());
    EXPECT_EQ(m.uploadedBytes, item.videoSizeOnDisk());
    EXPECT_EQ(sha256(server_->storedFile(*m.tusUploadURL)), sha256(testing::readFile(item.videoPath())));
  }

  testing::TempDir dir_;
  std::unique_ptr<testing::ServerProcess> server_;
  std::unique_ptr<FaultProxy> proxy_;
  std::string site_;
  std::shared_ptr<CurlHTTPClient> http_ = std::make_shared<CurlHTTPClient>();
  std::shared_ptr<CountingTransport> uploadSession_;
  std::shared_ptr<MemorySessionStorage> storage_ = std::make_shared<MemorySessionStorage>();
  std::shared_ptr<AuthStore> auth_;
  std::shared_ptr<RecordingVault> vault_ = std::make_shared<RecordingVault>(dir_ / "vault");
  std::atomic<std::int64_t> skewSec_{0};
  std::unique_ptr<UploadQueue> queue_;
  bool started_ = false;
  int recordings_ = 0;
};

TEST_F(UploadIntegrationTest, AServerKilledMidUploadIsResumedFromTheOffsetItKept) {
  launch();
  signIn();
  const VaultItem item = addRecording(24 * kChunk);
  std::atomic<bool> killed = false;
  std::thread killer;
  queue_->setOnProgress([&](const std::string&, const TusUploader::Progress& progress) {
    if (progress.uploadedBytes < 8 * kChunk || killed.exchange(true)) return;
    // Shortly after, so that the kill lands while the next chunk is on its way.
    killer = std::thread([&] {
      std::this_thread::sleep_for(3ms);
      server_->kill();
    });
  });
  queue_->start();
  started_ = true;
  while (!killed) std::this_thread::sleep_for(10ms);
  killer.join();
  server_->start(site_);
  queue_->waitUntilIdle();

  runUntilVerified(item);

  expectVerifiedAndIdentical(item);
  // Whether the kill lands between two chunks (the upload session waits for the server)
  // or during one (the attempt fails and the next asks the server where to go on), the
  // upload goes on from where the server's copy ends.
  EXPECT_LE(uploadSession_->patchedBytes.load(), 24 * kChunk + kChunk) << "more than one chunk was sent again";
}

TEST_F(UploadIntegrationTest, ConnectionsCutMidPatchAreRetriedWithTheBackoff) {
  launch({}, true);
  signIn();
  const VaultItem item = addRecording(16 * kChunk);
  proxy_->cutConnections(4, kChunk * 5 / 2);

  const auto delays = runUntilVerified(item);

  expectVerifiedAndIdentical(item);
  EXPECT_EQ(proxy_->cutsLeft(), 0);
  // Every cut costs at least one attempt; a stale connection can cost one more.
  ASSERT_GE(delays.size(), 4u);
  for (std::size_t i = 0; i < delays.size(); ++i) {
    EXPECT_EQ(delays[i], UploadQueue::backoff[std::min<std::size_t>(i, 6)]) << "retry " << i + 1;
  }
  EXPECT_EQ(manifest(item).attemptCount, int(delays.size()) + 1);
}

TEST_F(UploadIntegrationTest, AnAccessTokenExpiringDuringTheUploadIsRefreshed) {
  launch({"--access-token-ttl", "2"});
  signIn();
  const std::string firstToken = storage_->load()->accessToken;
  const VaultItem item = addRecording(4 * kChunk);
  std::atomic<bool> slept = false;
  queue_->setOnProgress([&](const std::string&, const TusUploader::Progress& progress) {
    // Outlive the token between two chunks.
    if (progress.uploadedBytes > 0 && !slept.exchange(true)) std::this_thread::sleep_for(3s);
  });

  pass();

  expectVerifiedAndIdentical(item);
  EXPECT_EQ(manifest(item).attemptCount, 1);
  ASSERT_TRUE(storage_->load().has_value());
  EXPECT_NE(storage_->load()->accessToken, firstToken);
}

TEST_F(UploadIntegrationTest, SignedOutItemsWaitForSigningInAndTheRecordingLimitForTheUser) {
  launch({"--recording-limit", "1"});
  const VaultItem first = addRecording(kChunk);
  const VaultItem second = addRecording(kChunk + 17);

  pass();
  for (const auto& item : {first, second}) {
    EXPECT_EQ(manifest(item).state, RecordingState::ready);
    EXPECT_EQ(manifest(item).lastError, "Signed out — sign in and this uploads automatically.");
    EXPECT_EQ(manifest(item).attemptCount, 0);
  }

  signIn();
  queue_->kick(UploadQueue::Trigger::auth);
  queue_->waitUntilIdle();
  expectVerifiedAndIdentical(first);
  const RecordingManifest m = manifest(second);
  EXPECT_EQ(m.state, RecordingState::needsAttention);
  EXPECT_EQ(m.lastError,
            "You've reached the number of recordings your Tolvane account can hold. Delete some to upload more. "
            "This recording is saved on your computer until then.");
  EXPECT_FALSE(m.nextAttemptAt.has_value());
  EXPECT_EQ(m.attemptCount, 1);
}

TEST_F(UploadIntegrationTest, AServiceUnavailableAnswerIsRetriedFifteenSecondsLater) {
  launch({}, true);
  signIn();
  const VaultItem item = addRecording(3 * kChunk);
  const std::string body = R"({"error":"Tolvane is busy right now."})";
  proxy_->answerNext(1, "POST /api/stream/upload-url",
                     "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);

  const Date before = now();
  pass();
  const RecordingManifest m = manifest(item);
  EXPECT_EQ(m.state, RecordingState::ready);
  EXPECT_EQ(m.lastError, "Tolvane is busy right now.");
  ASSERT_TRUE(m.nextAttemptAt.has_value());
  EXPECT_NEAR(std::chrono::duration<double>(*m.nextAttemptAt - before).count(), 15, 2);

  pass();  // not before its time
  EXPECT_EQ(manifest(item).state, RecordingState::ready);

  skewSec_ += 16;
  pass();
  expectVerifiedAndIdentical(item);
}

TEST_F(UploadIntegrationTest, TheCommandLineUploadsAndPrintsTheShareLinks) {
  launch();
  signIn();
  // The command line finds the session in its file store when no Secret Service answers.
  FileSessionStorage(dir_ / "config/tolvane/session.json").save(storage_->load());
  const VaultItem first = addRecording(3 * kChunk);
  const VaultItem second = addRecording(kChunk / 2);
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    return testing::runCommand(args, {{"TOLVANE_SITE_URL", site_},
                                      {"TOLVANE_VAULT_DIR", vault_->root().string()},
                                      {"XDG_CONFIG_HOME", (dir_ / "config").string()},
                                      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}});
  };

  const auto result = cli({"upload"});

  EXPECT_EQ(result.status, 0) << result.err;
  expectVerifiedAndIdentical(first);
  expectVerifiedAndIdentical(second);
  EXPECT_EQ(result.out, *manifest(first).shareURL + "\n" + *manifest(second).shareURL + "\n");
  EXPECT_NE(result.err.find("Uploading \"Integration\""), std::string::npos) << result.err;

  const auto again = cli({"upload"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("Nothing to upload."), std::string::npos) << again.err;

  const auto unknown = cli({"retry", "FFFFFFFF"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("No recording has the id FFFFFFFF."), std::string::npos) << unknown.err;
}

}  // namespace
}  // namespace tolvane
