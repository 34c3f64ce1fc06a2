// The upload queue against tolvane-server on loopback: every test ends with the server
// holding a byte-identical copy of the recording and the manifest `verified` with its
// share link.
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include "kit/auth/file_session_storage.h"
#include "kit/net/curl_http_client.h"
#include "tests/integration/server_process.h"
#include "tests/integration/uploads/fault_proxy.h"
#include "tests/kit/upload/upload_queue_harness.h"

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

class UploadIntegrationTest : public testing::UploadQueueHarness {
 protected:
  // tolvane-server behind the fault proxy, and a queue that uploads to it; the waits
  // after a cut are recorded, not slept.
  void launch() {
    server_ = std::make_unique<testing::ServerProcess>();
    proxy_ = std::make_unique<FaultProxy>(server_->port());
    site_ = "http://127.0.0.1:" + std::to_string(proxy_->port());
    server_->start(site_);
    makeQueue(http_, makeUploadSession(), *Url::parse(site_), kChunk,
              [this](std::chrono::seconds delay, const std::stop_token&) { waits_.push_back(delay.count()); });
  }

  void signIn() { auth_->adopt(testing::ServerProcess::signIn(http_, site_)); }

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

  std::unique_ptr<testing::ServerProcess> server_;
  std::unique_ptr<FaultProxy> proxy_;
  std::string site_;
  std::shared_ptr<CurlHTTPClient> http_ = std::make_shared<CurlHTTPClient>();
  std::vector<std::int64_t> waits_;  // touched by the queue's worker during a pass only
};

// Each cut costs a wait or two and a HEAD, never the attempt.
TEST_F(UploadIntegrationTest, ConnectionsCutMidPatchResumeWithinTheAttempt) {
  launch();
  signIn();
  const VaultItem item = addRecording(16 * kChunk);
  proxy_->cutConnections(4, kChunk * 5 / 2);

  pass();

  expectVerifiedAndIdentical(item);
  EXPECT_EQ(proxy_->cutsLeft(), 0);
  EXPECT_EQ(manifest(item).attemptCount, 1);
  EXPECT_GE(waits_.size(), 4u);
  for (const std::int64_t wait : waits_) EXPECT_TRUE(wait == 1 || wait == 3) << wait;
}

// An attempt that failed on the way does not fail `upload --wait`: where each recording
// ended does.
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

  const std::string busy = R"({"error":"Tolvane is busy right now."})";
  proxy_->answerNext(1, "POST /api/stream/upload-url",
                     "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: " +
                         std::to_string(busy.size()) + "\r\nConnection: close\r\n\r\n" + busy);

  const auto result = cli({"upload", "--wait"});  // waits out the first one's 15 s back-off

  EXPECT_EQ(result.status, 0) << result.err;
  expectVerifiedAndIdentical(first);
  expectVerifiedAndIdentical(second);
  EXPECT_EQ(result.out, *manifest(second).shareURL + "\n" + *manifest(first).shareURL + "\n");
  EXPECT_NE(result.err.find("\"Demo\": Tolvane is busy right now."), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Uploading \"Demo\""), std::string::npos) << result.err;

  const auto again = cli({"upload"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("Nothing to upload."), std::string::npos) << again.err;
}

}  // namespace
}  // namespace tolvane
