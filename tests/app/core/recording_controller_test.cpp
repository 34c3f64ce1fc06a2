#include "app/core/recording_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "app/capture/sources/synthetic_sources.h"
#include "app/core/disk_space_check.h"
#include "app/core/gui_thread_executor.h"
#include "app/core/recording_preflight.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/base/memory_log_sink.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/app/movie_probe.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using Phase = RecordingPhase;
constexpr std::int64_t plentyBytes = 100'000'000'000;

// The machine's sources, except that the test can make the screen fail mid-recording.
class FailableSources final : public SystemSourceFactory {
 public:
  struct Screen final : ScreenSource {
    Screen(std::unique_ptr<ScreenSource> wrapped, FailableSources& sources) : inner(std::move(wrapped)), owner(sources) {}
    void start(FrameHandler onFrame, FailureHandler onFailure) override {
      inner->start(std::move(onFrame), onFailure);
      std::lock_guard lock(owner.mutex_);
      owner.fail_ = onFailure;
    }
    void stop() override { inner->stop(); }
    const ScreenCaptureSettings& settings() const override { return inner->settings(); }
    std::unique_ptr<ScreenSource> inner;
    FailableSources& owner;
  };

  std::unique_ptr<ScreenSource> openScreen(const CaptureTarget& target, const ScreenCaptureSettings& settings) override {
    return std::make_unique<Screen>(SystemSourceFactory::openScreen(target, settings), *this);
  }
  void failScreen(const std::string& message) {
    std::lock_guard lock(mutex_);
    if (fail_) fail_(message);
  }

 private:
  std::mutex mutex_;
  ScreenSource::FailureHandler fail_;
};

struct FakeCatalog final : SourceCatalog {
  std::atomic<bool> hasDisplay = true;
  ShareableContent shareableContent() override {
    ShareableContent content;
    if (hasDisplay) content.displays.push_back({SyntheticSources::screenDisplayID, "Test scene", 0, 0, 1920, 1080});
    return content;
  }
  std::vector<AudioDeviceOption> microphones() override { return {{std::string(SyntheticSources::toneID), "Tone"}}; }
  std::vector<CameraOption> cameras() override { return {{std::string(SyntheticSources::barsID), "Bars"}}; }
};

struct FakePermissions final : DevicePermissions {
  std::atomic<bool> screen = true;
  std::atomic<PermissionStatus> microphone = PermissionStatus::authorised;
  std::atomic<PermissionStatus> camera = PermissionStatus::authorised;
  bool screenRecordingGranted() override { return screen; }
  PermissionStatus microphoneStatus(const std::optional<std::string>&) override { return microphone; }
  PermissionStatus cameraStatus(const std::optional<std::string>&) override { return camera; }
};

struct CountingSink final : CameraPreviewSink {
  std::atomic<int> frames = 0;
  void showFrame(const VideoFrame&) override { ++frames; }
  void clear() override {}
};

TEST(RecordingPreflightTest, ChecksRunInOrderAndTheFirstFailureWins) {
  using P = PermissionStatus;
  const std::string disk = "Only 2.15 GB free on this disk. Tolvane needs about 2 GB of headroom so a long "
                           "recording can't run out of space midway.";
  const struct {
    RecordingPreflight::Input input;
    std::optional<std::string> refusal;
  } rows[] = {
      {{false, false, true, P::denied, true, P::denied, 0}, RecordingPreflight::screenMessage},
      {{true, false, true, P::denied, true, P::denied, 0}, "Pick a screen or window to record first."},
      {{true, true, true, P::denied, true, P::denied, 0}, RecordingPreflight::cameraMessage},
      {{true, true, false, P::denied, true, P::denied, 0}, RecordingPreflight::microphoneMessage},
      {{true, true, false, P::denied, false, P::denied, 2'147'483'647}, disk},
      {{true, true, true, P::authorised, true, P::authorised, 2'147'483'648}, std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(RecordingPreflight::check(row.input), row.refusal);
}

TEST(PrivacySettingsTest, OpensTheDesktopsOwnPanelOrTheHelpPage) {
  using Device = PrivacySettings::Device;
  using Panel = PrivacySettings::Panel;
  EXPECT_EQ(PrivacySettings::panel(Device::camera, "ubuntu:GNOME"), (Panel{"gnome-control-center", {"camera"}}));
  EXPECT_EQ(PrivacySettings::panel(Device::microphone, "KDE"), (Panel{"systemsettings", {"kcm_pulseaudio"}}));
  EXPECT_EQ(PrivacySettings::panel(Device::camera, "KDE"), std::nullopt);
  EXPECT_EQ(PrivacySettings::panel(Device::screen, "GNOME"), std::nullopt);
  std::vector<QUrl> opened;
  PrivacySettings settings(QUrl("https://tolvane.test/"), [&](const QUrl& url) { opened.push_back(url); },
                           [](const Panel&) { return false; });  // the panel's program is missing
  settings.open(Device::camera);
  EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("https://tolvane.test/help/linux-permissions#camera")}));
}

class RecordingControllerTest : public ::testing::Test {
 protected:
  RecordingControllerTest() {
    testing::application();
    model->setIncludeSystemAudio(false);  // no sound server in the tests
    settle(model->refreshSourcesAsync());
  }

  std::unique_ptr<RecordingController> makeModel() {
    RecordingController::Options options;
    options.settingsPath = QString::fromStdString((dir / "settings.conf").string());
    options.openURL = [this](const QUrl& url) { opened.push_back(url); };
    options.notify = [this](const QString& text) { notes.push_back(text); };
    options.previewSink = sink;
    options.catalog = catalog;
    options.permissions = permissions;
    options.defaultMicrophoneID = [] { return std::nullopt; };
    options.freeBytes = [this] { return freeBytes.load(); };
    return std::make_unique<RecordingController>(services, clock, std::move(options));
  }

  static void settle(QCoro::Task<> task) {
    ASSERT_TRUE(testing::processEventsUntil([&] { return task.isReady(); }));
  }
  void waitForPhase(Phase phase) {
    ASSERT_TRUE(testing::processEventsUntil([&] { return model->phase() == phase; })) << model->phase().text();
  }
  void startRecording() {
    model->startCountdown();
    waitForPhase(Phase::countdown(3));
    clock->advance(3);
    waitForPhase(Phase::recording());
  }
  void stopAndWait() {
    model->stopRecording();
    EXPECT_EQ(model->phase(), Phase::finishing());
    waitForPhase(Phase::idle());
  }
  RecordingManifest manifest(const std::string& id) { return services.vault()->item(id)->manifest; }

  ::tolvane::testing::TempDir dir;
  QObject context;
  std::shared_ptr<FailableSources> sources = std::make_shared<FailableSources>();
  AppServices services{std::make_shared<GuiThreadExecutor>(&context), [this] {
                         AppServices::Settings settings;
                         settings.vaultDirectory = dir / "vault";
                         settings.siteURL = Url::parse("https://tolvane.test");
                         settings.sessionStorage = std::make_shared<MemorySessionStorage>();
                         settings.sources = sources;
                         return settings;
                       }()};
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::shared_ptr<FakeCatalog> catalog = std::make_shared<FakeCatalog>();
  std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
  std::shared_ptr<CountingSink> sink = std::make_shared<CountingSink>();
  std::atomic<std::int64_t> freeBytes = plentyBytes;
  std::vector<QUrl> opened;
  std::vector<QString> notes;
  std::unique_ptr<RecordingController> model = makeModel();
  std::vector<std::pair<QString, double>> finished;
};

TEST_F(RecordingControllerTest, RefusesToStartWithTheFirstFailedCheckAndStaysIdle) {
  permissions->screen = false;
  model->setSelectedTargetID(std::nullopt);
  int phaseChanges = 0;
  QObject::connect(model.get(), &RecordingController::phaseChanged, [&] { ++phaseChanges; });
  model->startCountdown();
  ASSERT_TRUE(testing::processEventsUntil([&] { return !model->recordingError().isEmpty(); }));
  EXPECT_EQ(model->recordingError(), RecordingPreflight::screenMessage);
  EXPECT_EQ(std::pair(model->phase(), phaseChanges), std::pair(Phase::idle(), 0));
  EXPECT_TRUE(services.vault()->all().empty());
}

TEST_F(RecordingControllerTest, CountsDownRecordsAndFinishesAReviewableRecording) {
  EXPECT_EQ(model->selectedTargetID(), "display-4294967040");  // the first display
  EXPECT_EQ(model->selectedMicrophoneID(), SyntheticSources::toneID);  // on by default
  EXPECT_EQ(model->selectedCameraID(), std::nullopt);                  // never on by default
  QObject::connect(model.get(), &RecordingController::recordingFinished,
                   [&](const QString& id, double duration) { finished.emplace_back(id, duration); });

  int requested = 0;
  QObject::connect(model.get(), &RecordingController::recordingRequested, [&] { ++requested; });
  model->startCountdown();
  model->startCountdown();  // pressed twice while the devices are read: one countdown
  waitForPhase(Phase::countdown(3));
  EXPECT_EQ(requested, 1);
  clock->advance(1);
  const auto log = MemoryLogSink::attach();
  model->startCountdown();  // a second request during the countdown changes nothing but is logged
  EXPECT_EQ(model->phase(), Phase::countdown(2));
  EXPECT_TRUE(log->contains("app", LogLevel::info, "start recording requested (phase: countdown(2))"));
  clock->advance(2);
  waitForPhase(Phase::recording());
  const std::string id = *model->currentItemID();

  // The elapsed time follows the engine's clock, read on the model's tick.
  ASSERT_TRUE(testing::processEventsUntil([&] {
    clock->advance(0.25);
    return model->elapsed() > 0.5;
  }));
  model->pauseRecording();
  EXPECT_EQ(model->phase(), Phase::paused());
  model->resumeRecording();
  EXPECT_EQ(model->phase(), Phase::recording());
  model->pauseRecording();
  stopAndWait();  // from the paused state

  const RecordingManifest finishedManifest = manifest(id);
  EXPECT_EQ(finishedManifest.state, RecordingState::ready);
  EXPECT_TRUE(finishedManifest.holdUploadUntil) << "held for review in the same write that made it ready";
  // The microphone, on by default, is heard in the file: the tone, not silence.
  EXPECT_GT(testing::movieAudioPeak(services.vault()->item(id)->videoPath()), -20.0);
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0].first.toStdString(), id);
  EXPECT_DOUBLE_EQ(finished[0].second, finishedManifest.durationSec);
  EXPECT_EQ(std::pair(model->elapsed(), model->currentItemID()), std::pair(0.0, std::optional<std::string>()));
}

TEST_F(RecordingControllerTest, AnImmediateStopKeepsTheEmptyFileWithoutAReviewAndAnEmergencyStopKeepsTheItem) {
  QObject::connect(model.get(), &RecordingController::recordingFinished,
                   [&](const QString& id, double duration) { finished.emplace_back(id, duration); });
  int ended = 0;
  QObject::connect(model.get(), &RecordingController::recordingEnded, [&] { ++ended; });
  startRecording();
  const std::string id = *model->currentItemID();
  stopAndWait();
  EXPECT_EQ(manifest(id).state, RecordingState::needsAttention);
  EXPECT_EQ(manifest(id).lastError,
            "This recording came out empty. The file is kept here in case something is salvageable.");
  EXPECT_EQ(std::pair(ended, finished.size()), std::pair(1, std::size_t{0}));

  // An emergency stop (the process is going down) leaves the item for recovery and
  // changes no state.
  startRecording();
  const std::string second = *model->currentItemID();
  model->emergencyStop();
  EXPECT_EQ(manifest(second).state, RecordingState::finalizing);
  EXPECT_EQ(std::pair(model->phase(), model->currentItemID()), std::pair(Phase::recording(), std::optional(second)));
}

TEST_F(RecordingControllerTest, TheDiskWatchWarnsBelow2GiBThenStopsTheRecordingBelow700MiB) {
  startRecording();
  freeBytes = 2'147'483'648;
  clock->advance(10);
  EXPECT_EQ(model->diskWarning(), "");
  freeBytes = 2'147'483'647;
  clock->advance(9.5);
  EXPECT_EQ(model->diskWarning(), "");  // checked every 10 s from the start
  clock->advance(0.5);
  EXPECT_EQ(model->diskWarning(), "Running low on disk space \u2014 2.15 GB left.");
  freeBytes = 734'003'200;
  clock->advance(10);
  EXPECT_EQ(model->diskWarning(), "Running low on disk space \u2014 734 MB left.");
  EXPECT_EQ(model->phase(), Phase::recording());

  freeBytes = 734'003'199;
  clock->advance(10);
  EXPECT_EQ(model->diskWarning(), DiskSpaceCheck::stoppedMessage);
  EXPECT_EQ(notes, (std::vector<QString>{DiskSpaceCheck::stoppedMessage}));
  EXPECT_EQ(model->phase(), Phase::finishing());
  waitForPhase(Phase::idle());
  clock->advance(30);  // the watch ended with the recording and the warning stays
  EXPECT_EQ(model->diskWarning(), DiskSpaceCheck::stoppedMessage);
}

TEST_F(RecordingControllerTest, AnEngineFailureStopsTheRecordingAndSaysTheFileIsKept) {
  startRecording();
  sources->failScreen("That window has closed.");
  waitForPhase(Phase::idle());
  const QString expected = "That window has closed. Everything captured up to this point is saved on your computer.";
  EXPECT_EQ(model->recordingError(), expected);
  EXPECT_EQ(notes, (std::vector<QString>{expected}));
}

TEST_F(RecordingControllerTest, ATargetGoneDuringTheCountdownEndsIdleWithoutAnItem) {
  model->startCountdown();
  waitForPhase(Phase::countdown(3));
  catalog->hasDisplay = false;
  settle(model->refreshSourcesAsync());
  clock->advance(3);
  waitForPhase(Phase::idle());
  EXPECT_TRUE(services.vault()->all().empty());
  EXPECT_EQ(model->recordingError(), "");
}

TEST_F(RecordingControllerTest, ThePreviewRunsOnlyWhileIdleAndChoicesSurviveARestart) {
  model->setSelectedCameraID(std::string(SyntheticSources::barsID));
  ASSERT_TRUE(testing::processEventsUntil([&] { return sink->frames > 0; }));
  startRecording();
  EXPECT_EQ(model->previewCameraID(), std::nullopt);
  stopAndWait();
  EXPECT_EQ(model->previewCameraID(), SyntheticSources::barsID);

  model->setBubble({{0.5, 0.5}, 0.3});
  model.reset();
  model = makeModel();
  EXPECT_EQ(model->selectedCameraID(), std::nullopt);  // not before the camera is listed again
  settle(model->refreshSourcesAsync());
  EXPECT_EQ(model->selectedCameraID(), SyntheticSources::barsID);
  EXPECT_EQ(model->selectedTargetID(), "display-4294967040");
  EXPECT_FALSE(model->includeSystemAudio());
  EXPECT_EQ(model->bubble(), (BubbleLayout{{0.5, 0.5}, 0.3}));
}

TEST_F(RecordingControllerTest, OpenSettingsLeadsToTheHelpPageWhenAccessIsRefused) {
  ::tolvane::testing::ScopedEnv desktop("XDG_CURRENT_DESKTOP", "XFCE");
  permissions->camera = PermissionStatus::denied;
  model->setSelectedCameraID(std::string(SyntheticSources::barsID));
  model->requestCamera();
  ASSERT_TRUE(testing::processEventsUntil([&] { return !opened.empty(); }));
  EXPECT_EQ(opened[0], QUrl("https://tolvane.test/help/linux-permissions#camera"));
  EXPECT_EQ(model->previewCameraID(), std::nullopt);
}

}  // namespace
}  // namespace tolvane
