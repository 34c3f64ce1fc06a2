#include "app/shell/updater_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "kit/base/memory_log_sink.h"
#include "kit/update/update_error.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/shell/shell_model_fixture.h"

namespace tolvane {
namespace {

using Phase = RecordingPhase;

UpdateRelease release(std::string version) {
  UpdateRelease made;
  made.version = std::move(version);
  made.packageURL = "packages/tolvane_" + made.version + "_amd64.deb";
  made.size = 1;
  return made;
}

// The updater's blocking steps, written down instead of done. Called on worker threads.
struct FakeSteps {
  std::mutex mutex;
  std::vector<UpdateRelease> releases = {release("0.0.9"), release("99.0.0")};
  std::string feedError;  // a feed that fails with this
  bool installable = true;
  std::string installError;
  std::atomic<int> fetches = 0;
  std::atomic<int> downloads = 0;
  std::atomic<int> discards = 0;
  std::vector<std::string> installed;  // under mutex
  std::vector<std::string> installAttempts;
  int relaunches = 0;
  int quits = 0;

  UpdaterController::Backend backend() {
    UpdaterController::Backend steps;
    steps.fetchFeed = [this](const std::string&, std::stop_token) {
      ++fetches;
      if (!feedError.empty()) throw UpdateError(feedError);
      UpdateFeed feed;
      feed.generatedAt = "2026-12-07T12:00:00Z";
      feed.releases = releases;
      return feed;
    };
    steps.detectInstallation = [this] {
      InstalledPackage package;
      package.installable = installable;
      package.reason = "a build tree";
      package.executable = "/usr/bin/tolvane";
      return package;
    };
    steps.download = [this](const UpdateRelease& r, std::stop_token) {
      ++downloads;
      return std::filesystem::path("/cache/tolvane_" + r.version + ".deb");
    };
    steps.install = [this](const std::filesystem::path& package, const UpdateRelease&) {
      std::lock_guard lock(mutex);
      installAttempts.push_back(package.string());
      if (!installError.empty()) throw UpdateError(installError);
      installed.push_back(package.string());
    };
    steps.discardDownloads = [this] { ++discards; };
    steps.relaunch = [this](const std::filesystem::path&) {
      ++relaunches;
      return pid_t{4242};
    };
    return steps;
  }
  std::vector<std::string> installs() {
    std::lock_guard lock(mutex);
    return installed;
  }
  std::size_t attempts() {
    std::lock_guard lock(mutex);
    return installAttempts.size();
  }
};

class UpdaterControllerTest : public testing::ShellModelFixture {
 protected:
  // Lets the worker steps and their continuations run; true when `done` came about.
  bool settle(const std::function<bool()>& done) { return testing::processEventsUntil(done, std::chrono::seconds(10)); }
  // Runs whatever the step makes happen, then a little more, so that a thing that must
  // not happen had its chance to.
  void settleIdle() {
    testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
  }
  void finishRecording() {
    recording().stopRecording();
    ASSERT_TRUE(testing::processEventsUntil([&] { return recording().phase().is(Phase::Kind::idle); }));
  }
  bool notified(const QString& text) const {
    for (const auto& shown : notifier->shown) {
      if (shown.body == text) return true;
    }
    return false;
  }
  void checkAndWaitForDownload() {
    updater.checkForUpdates();
    ASSERT_TRUE(settle([&] { return steps.downloads > 0 && updater.canCheckForUpdates(); }));
  }

  MemoryLogSink::Attachment log = MemoryLogSink::attach();
  FakeSteps steps;
  UpdaterController updater{*model, steps.backend(), [this] { ++steps.quits; }};
};

// Whatever keeps the install back (a recording, a pause, an upload, or a recording and
// then its upload), the update waits in 30-second steps and goes in within one step of
// the last of them ending — then the application relaunches.
TEST_F(UpdaterControllerTest, InstallWaitsForRecordingPauseAndUploadThenGoesInWithinOneStep) {
  struct Case {
    const char* name;
    bool record;
    bool pause;
    bool upload;
  };
  const Case cases[] = {{"recording", true, false, false},
                        {"paused", true, true, false},
                        {"upload in flight", false, false, true},
                        {"recording, then its upload", true, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    steps.installed.clear();
    steps.downloads = 0;
    steps.relaunches = steps.quits = 0;
    log->clear();
    if (c.record) startRecording();
    if (c.pause) {
      recording().pauseRecording();
      waitForPhase(Phase::paused());
    }
    if (c.upload) model->library().setUploadInFlight(true);

    checkAndWaitForDownload();
    settleIdle();
    EXPECT_TRUE(log->contains("updater", LogLevel::info, "postponing update install — recording or upload in progress"));
    EXPECT_EQ(updater.pendingVersion(), "99.0.0");
    clock->advance(UpdaterController::kPostponeRecheckSec);
    clock->advance(UpdaterController::kPostponeRecheckSec);
    settleIdle();
    EXPECT_TRUE(steps.installs().empty());

    if (c.record) finishRecording();
    if (c.record && c.upload) {
      // The recording is over, its upload is not: still waiting.
      clock->advance(UpdaterController::kPostponeRecheckSec);
      settleIdle();
      EXPECT_TRUE(steps.installs().empty());
    }
    if (c.upload) model->library().setUploadInFlight(false);
    clock->advance(UpdaterController::kPostponeRecheckSec);
    ASSERT_TRUE(settle([&] { return steps.quits == 1; }));
    EXPECT_EQ(steps.installs(), std::vector<std::string>{"/cache/tolvane_99.0.0.deb"});
    EXPECT_EQ(steps.relaunches, 1);
    EXPECT_FALSE(updater.pendingVersion());
    EXPECT_EQ(steps.discards, 1);
    steps.discards = 0;
  }
}

// With nothing running the install is not postponed: no clock step is needed.
TEST_F(UpdaterControllerTest, NothingRunningInstallsAtOnce) {
  updater.checkForUpdates();
  ASSERT_TRUE(settle([&] { return steps.quits == 1; }));
  EXPECT_EQ(steps.installs(), std::vector<std::string>{"/cache/tolvane_99.0.0.deb"});
  EXPECT_FALSE(log->contains("updater", LogLevel::info, "postponing update install — recording or upload in progress"));
  EXPECT_TRUE(log->contains("updater", LogLevel::info, "appcast loaded: 2 item(s)"));
}

// A failed install keeps the download (nothing is discarded), tells the user, and does
// not relaunch; the next check tries again with the same file.
TEST_F(UpdaterControllerTest, InstallerFailureKeepsTheDownloadAndTellsTheUser) {
  steps.installError = "Tolvane 99.0.0 could not be installed (the installer ended with status 1).";
  updater.checkForUpdates();
  ASSERT_TRUE(settle([&] { return notified(QString::fromStdString(steps.installError)); }));
  settleIdle();
  EXPECT_EQ(steps.discards, 0);
  EXPECT_EQ(steps.relaunches, 0);
  EXPECT_EQ(steps.quits, 0);
  EXPECT_TRUE(log->contains("updater", LogLevel::error, "update install failed: " + steps.installError));

  steps.installError.clear();
  updater.checkForUpdates();
  ASSERT_TRUE(settle([&] { return steps.quits == 1; }));
  EXPECT_EQ(steps.attempts(), 2u);
}

// A feed without anything newer installs nothing; the user who asked hears so, an
// automatic check stays silent. A failed feed is one error line and frees the menu item.
TEST_F(UpdaterControllerTest, NothingNewerOrAFailedFeedInstallsNothing) {
  const QString current = AppModel::currentVersion();
  steps.releases = {release("0.0.1"), release(current.toStdString())};
  updater.checkForUpdates();
  ASSERT_TRUE(settle([&] { return notified(QStringLiteral("Tolvane %1 is up to date.").arg(current)); }));

  updater.start();
  clock->advance(UpdaterController::kFirstCheckDelaySec);
  ASSERT_TRUE(settle([&] { return steps.fetches == 2 && updater.canCheckForUpdates(); }));
  EXPECT_EQ(notifier->shown.size(), 1u);

  steps.feedError = "the feed's signature does not match";
  bool sawBusy = false;
  QObject::connect(&updater, &UpdaterController::canCheckForUpdatesChanged, [&] {
    if (!updater.canCheckForUpdates()) sawBusy = true;
  });
  clock->advance(UpdaterController::kCheckIntervalSec);
  ASSERT_TRUE(settle([&] { return steps.fetches == 3 && updater.canCheckForUpdates(); }));
  EXPECT_TRUE(sawBusy);
  EXPECT_TRUE(log->contains("updater", LogLevel::error, "update check failed: the feed's signature does not match"));
  EXPECT_EQ(steps.downloads, 0);
  EXPECT_EQ(steps.attempts(), 0u);
  EXPECT_EQ(notifier->shown.size(), 1u);
}

// A copy that can't update itself downloads nothing: it shows the banner and tells the
// user once per version on automatic checks, and every time the user asks.
TEST_F(UpdaterControllerTest, NotInstallableOnlyAnnouncesEachVersionOnce) {
  steps.installable = false;
  updater.start();
  clock->advance(UpdaterController::kFirstCheckDelaySec);
  ASSERT_TRUE(settle([&] { return !notifier->shown.empty(); }));
  const QString told = QStringLiteral("Tolvane 99.0.0 is available — you're on %1.").arg(AppModel::currentVersion());
  EXPECT_EQ(notifier->shown.back().body, told);
  EXPECT_EQ(model->availableUpdate().value(QStringLiteral("version")).toString(), QStringLiteral("99.0.0"));

  clock->advance(UpdaterController::kCheckIntervalSec);
  ASSERT_TRUE(settle([&] { return steps.fetches == 2 && updater.canCheckForUpdates(); }));
  EXPECT_EQ(notifier->shown.size(), 1u);
  steps.releases.push_back(release("100.0.0"));
  clock->advance(UpdaterController::kCheckIntervalSec);
  ASSERT_TRUE(settle([&] { return notifier->shown.size() == 2; }));
  updater.checkForUpdates();
  ASSERT_TRUE(settle([&] { return notifier->shown.size() == 3; }));
  EXPECT_EQ(steps.downloads, 0);
  EXPECT_EQ(steps.attempts(), 0u);
}

}  // namespace
}  // namespace tolvane
