// The upload queue against tolvane-server on loopback: every test ends with the server
// holding a byte-identical copy of the recording and the manifest `verified` with its
// share link.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "kit/auth/file_session_storage.h"
#include "kit/net/curl_http_client.h"
#include "tests/integration/server_process.h"
#include "tests/kit/upload/upload_queue_harness.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kChunk = 1 << 20;

class UploadIntegrationTest : public testing::UploadQueueHarness {
 protected:
  // A signed-in queue that uploads to the server. The waits after a lost connection are
  // recorded, not slept, and bring a killed server back.
  UploadIntegrationTest() {
    server_.start();
    makeQueue(http_, makeUploadSession(), *Url::parse(server_.url()), kChunk,
              [this](std::chrono::seconds delay, const std::stop_token&) {
                waits_.push_back(delay.count());
                if (std::exchange(down_, false)) server_.start();
              });
    auth_->adopt(testing::ServerProcess::signIn(http_, server_.url()));
  }

  void expectVerifiedAndIdentical(const VaultItem& item) {
    const RecordingManifest m = manifest(item);
    EXPECT_EQ(m.state, RecordingState::verified) << m.lastError.value_or("");
    ASSERT_TRUE(m.shareURL && m.tusUploadURL);
    EXPECT_TRUE(m.shareURL->starts_with(server_.url())) << *m.shareURL;
    EXPECT_EQ(m.uploadedBytes, item.videoSizeOnDisk());
    EXPECT_TRUE(server_.storedFile(*m.tusUploadURL) == testing::readFile(item.videoPath())) << "the copies differ";
  }

  testing::ServerProcess server_;
  std::shared_ptr<CurlHTTPClient> http_ = std::make_shared<CurlHTTPClient>();
  // Touched by the queue's worker during a pass only.
  std::vector<std::int64_t> waits_;
  bool down_ = false;
};

// The server dies twice between chunks. Each time the next PATCH finds nobody; after a
// wait the restarted server's offset (HEAD) says where to go on, within the one attempt.
TEST_F(UploadIntegrationTest, AServerKilledMidUploadIsResumedFromItsOffsetWithinTheAttempt) {
  const VaultItem item = addRecording(12 * kChunk + 1000);
  std::vector<std::int64_t> killAt = {3 * kChunk, 8 * kChunk};
  queue_->setOnProgress([&](const std::string&, const TusUploader::Progress& progress) {
    if (killAt.empty() || progress.uploadedBytes < killAt.front()) return;
    killAt.erase(killAt.begin());
    server_.kill();
    down_ = true;
  });

  pass();

  expectVerifiedAndIdentical(item);
  EXPECT_TRUE(killAt.empty());
  EXPECT_EQ(manifest(item).attemptCount, 1);
  EXPECT_EQ(waits_, (std::vector<std::int64_t>{1, 1}));
}

// An attempt that failed on the way does not fail `upload --wait`: where each recording
// ended does.
TEST_F(UploadIntegrationTest, TheCommandLineWaitsOutAFailedAttemptAndPrintsTheShareLinks) {
  // The command line finds the session in its file store when no Secret Service answers.
  FileSessionStorage(dir_ / "config/tolvane/session.json").save(storage_->load());
  const VaultItem first = addRecording(3 * kChunk);
  const VaultItem second = addRecording(kChunk / 2);
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    return testing::runCommand(args, {{"TOLVANE_SITE_URL", server_.url()},
                                      {"TOLVANE_VAULT_DIR", vault_->root().string()},
                                      {"XDG_CONFIG_HOME", (dir_ / "config").string()},
                                      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}});
  };

  // The server is back once both first attempts failed; the retries 15 s later find it,
  // the oldest recording first.
  server_.kill();
  auto waited = std::async(std::launch::async, [&] { return cli({"upload", "--wait"}); });
  // Bounded, so that a queue that never tries the second recording fails the test rather
  // than hanging it (the server comes back either way, so the command line ends).
  const auto giveUp = std::chrono::steady_clock::now() + 120s;
  const auto bothFailed = [&] { return manifest(first).lastError && manifest(second).lastError; };
  while (waited.wait_for(50ms) == std::future_status::timeout && !bothFailed() &&
         std::chrono::steady_clock::now() < giveUp) {
  }
  EXPECT_TRUE(bothFailed()) << "each recording's first attempt meets the server down";
  server_.start();
  const auto result = waited.get();

  EXPECT_EQ(result.status, 0) << result.err;
  expectVerifiedAndIdentical(first);
  expectVerifiedAndIdentical(second);
  EXPECT_EQ(result.out, *manifest(first).shareURL + "\n" + *manifest(second).shareURL + "\n");
  EXPECT_NE(result.err.find("\"Demo\": Could not connect to the server."), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Uploading \"Demo\""), std::string::npos) << result.err;

  const auto again = cli({"upload"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("Nothing to upload."), std::string::npos) << again.err;
}

}  // namespace
}  // namespace tolvane
