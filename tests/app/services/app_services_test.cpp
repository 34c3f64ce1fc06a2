#include "app/services/app_services.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "app/services/recording_session.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/base/clock.h"
#include "kit/base/errors.h"
#include "tests/app/capture/fake_sources.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

// Keeps posted tasks until the test runs them, so a callback that bypasses the executor
// (running on a kit thread) shows up as a handler call before runAll().
struct ManualExecutor final : Executor {
  std::mutex mutex;
  std::vector<std::function<void()>> tasks;
  void post(std::function<void()> task) override {
    std::lock_guard lock(mutex);
    tasks.push_back(std::move(task));
  }
  void runAll() {
    std::unique_lock lock(mutex);
    auto now = std::exchange(tasks, {});
    lock.unlock();
    for (auto& task : now) task();
  }
};

// Every request hangs until it is cancelled, so the queue stays on its item.
struct StallingTransport final : HTTPPerforming {
  std::mutex mutex;
  std::condition_variable_any entered;
  bool stalled = false;
  HTTPResponse data(const HTTPRequest&, std::stop_token stop) override {
    std::unique_lock lock(mutex);
    stalled = true;
    entered.notify_all();
    entered.wait(lock, stop, [] { return false; });
    throw CancellationError();
  }
  HTTPResponse upload(const HTTPRequest& r, std::span<const std::byte>, std::stop_token stop) override { return data(r, stop); }
};

struct OnlineMonitor final : NetworkMonitor {
  void start(Handler handler) override { handler(true); }
  void cancel() override {}
};

class AppServicesTest : public ::testing::Test {
 protected:
  AppServicesTest() {
    services->setOnVaultChange([this] { ++vaultChanges; });
    services->setOnSessionChange([this](const std::optional<AuthSession>&) { ++sessionChanges; });
    services->setOnUploadChange([this] { ++uploadChanges; });
  }

  static AuthSession session() { return {"access", "refresh", std::chrono::system_clock::now() + 24h, "a@b.test"}; }

  testing::TempDir dir;
  std::shared_ptr<StallingTransport> http = std::make_shared<StallingTransport>();
  std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
  std::unique_ptr<AppServices> services = std::make_unique<AppServices>(
      executor, AppServices::Settings{.vaultDirectory = dir / "vault",
                                      .siteURL = *Url::parse("https://tolvane.test"),
                                      .http = http,
                                      .uploadHTTP = http,
                                      .sessionStorage = std::make_shared<MemorySessionStorage>(session()),
                                      .makeNetworkMonitor = [] { return std::make_unique<OnlineMonitor>(); },
                                      .sources = nullptr});
  int vaultChanges = 0, sessionChanges = 0, uploadChanges = 0;
};

TEST_F(AppServicesTest, CallbacksRunOnlyOnTheExecutorAndNeverOnceTheServicesAreGone) {
  services->vault()->createRecording("One", false, false, false);
  services->auth()->signOut();
  EXPECT_EQ(std::pair(vaultChanges, sessionChanges), std::pair(0, 0));
  executor->runAll();
  EXPECT_EQ(std::pair(vaultChanges, sessionChanges), std::pair(1, 1));

  // Posted before the destruction, or made by a kit object that outlives the services.
  const auto vault = services->vault();
  const auto item = vault->createRecording("Two", false, false, false);
  services->auth()->adopt(session());
  services.reset();
  vault->update(item.id(), [](RecordingManifest& m) { m.title = "Renamed"; });
  executor->runAll();
  EXPECT_EQ(std::pair(vaultChanges, sessionChanges), std::pair(1, 1));
}

TEST_F(AppServicesTest, ATrimIsRefusedWhileTheQueueUploadsTheRecording) {
  const auto item = services->vault()->createRecording("Clip", false, false, false);
  testing::writeFile(item.videoPath(), std::string(4096, 'v'));
  services->vault()->update(item.id(), [](RecordingManifest& m) { m.state = RecordingState::ready; });
  services->startUploads();
  {
    std::unique_lock lock(http->mutex);
    http->entered.wait(lock, [&] { return http->stalled; });  // no byte has gone out yet
  }

  EXPECT_EQ(services->uploadQueue()->uploadingID(), item.id());
  EXPECT_THAT([&] { services->library().trim(item.id(), 0, 1); },
              ::testing::ThrowsMessage<std::exception>("That recording has started uploading, so it can't be trimmed."));
  EXPECT_EQ(services->vault()->item(item.id())->manifest.fileName, "recording.mp4");

  services->stopUploads();  // the cancelled item is reported on the queue's thread
  EXPECT_EQ(uploadChanges, 0);
  executor->runAll();
  EXPECT_EQ(uploadChanges, 1);
}

// The finished item names only the sound that reached the file, and says what the
// recording went on without.
TEST(RecordingSessionTest, TheItemsSoundFlagsAndLineSayWhatTheFileReallyHas) {
  testing::TempDir dir;
  auto factory = std::make_shared<testing::FakeFactory>();
  RecordingSession session(std::make_shared<RecordingVault>(dir / "vault"), factory, std::make_shared<ManualExecutor>());
  RecordingOptions options;
  options.target = CaptureTarget::display(1, "Main display", 64, 36);
  options.microphoneID = "mic";
  options.includeSystemAudio = true;
  session.begin(options);
  const double now = monotonicSeconds();
  factory->screen->deliver(now);
  factory->screen->deliver(now + 0.5);
  factory->microphone->fail("Tolvane couldn't read from that microphone.");
  factory->systemAudio->send(CapturedAudio{std::vector<float>(960, 0.1f), 2, now, now});
  for (int wait = 0; wait < 20'000 && (session.elapsed() < 0.5 || !session.statistics().systemAudioFrames); ++wait) {
    std::this_thread::sleep_for(1ms);  // until both have reached the engine's queues
  }
  session.stop();
  const RecordingManifest manifest = session.item()->manifest;
  EXPECT_EQ(std::tuple(manifest.state, manifest.hasMicrophone, manifest.hasSystemAudio),
            std::tuple(RecordingState::ready, false, true));
  EXPECT_EQ(manifest.notice,
            "Tolvane couldn't read from that microphone. The rest of this recording has no microphone sound.");
  EXPECT_FALSE(manifest.lastError) << "going on without a sound is no problem for the upload";
}

}  // namespace
}  // namespace tolvane
