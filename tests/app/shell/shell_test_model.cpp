#include "tests/app/shell/shell_test_model.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/capture/sources/synthetic_sources.h"
#include "kit/auth/memory_session_storage.h"
#include "tests/app/core/core_test_support.h"

namespace tolvane::testing {
namespace {

struct OfflineMonitor final : NetworkMonitor {
  void start(Handler handler) override { handler(false); }
  void cancel() override {}
};

struct SyntheticCatalog final : SourceCatalog {
  ShareableContent shareableContent() override {
    ShareableContent content;
    content.displays.push_back({SyntheticSources::screenDisplayID, "Test scene", 0, 0, 1920, 1080});
    return content;
  }
  std::vector<AudioDeviceOption> microphones() override { return {}; }
  std::vector<CameraOption> cameras() override { return {}; }
};

struct AllowedPermissions final : DevicePermissions {
  bool screenRecordingGranted() override { return true; }
  PermissionStatus microphoneStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
  PermissionStatus cameraStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
};

}  // namespace

ShellTestModel::ShellTestModel() {
  application();
  // The synthetic screen exists only when asked for (CTest asks; a hand-run binary may not).
  setenv("TOLVANE_TEST_SOURCES", "1", 1);
  AppModel::Settings settings;
  settings.services.vaultDirectory = dir / "vault";
  settings.services.siteURL = Url::parse("https://tolvane.test");
  settings.services.sessionStorage = std::make_shared<MemorySessionStorage>();
  settings.services.makeNetworkMonitor = [] { return std::make_unique<OfflineMonitor>(); };
  settings.clock = clock;
  settings.clipboard = clipboard;
  settings.opener = opener;
  settings.notifier = notifier;
  settings.deviceName = [] { return QStringLiteral("Test machine"); };
  settings.recording.settingsPath = QString::fromStdString((dir / "Tolvane.conf").string());
  settings.recording.catalog = std::make_shared<SyntheticCatalog>();
  settings.recording.permissions = std::make_shared<AllowedPermissions>();
  settings.recording.defaultMicrophoneID = [] { return std::nullopt; };
  settings.recording.freeBytes = [] { return std::int64_t{100'000'000'000}; };
  model = std::make_unique<AppModel>(std::move(settings));
  model->recording().setIncludeSystemAudio(false);  // no sound server here
  auto refreshing = model->recording().refreshSourcesAsync();
  EXPECT_TRUE(processEventsUntil([&] { return refreshing.isReady(); }));
}

ShellTestModel::~ShellTestModel() {
  // A recording a failed test left running is closed before its folder goes.
  model->recording().emergencyStop();
}

void ShellTestModel::waitForPhase(const RecordingPhase& phase) {
  ASSERT_TRUE(processEventsUntil([&] { return model->recording().phase() == phase; }))
      << "still " << model->recording().phase().text() << ", not " << phase.text();
}

void ShellTestModel::startRecording() {
  model->recording().startCountdown();
  waitForPhase(RecordingPhase::countdown(3));
  clock->advance(3);
  waitForPhase(RecordingPhase::recording());
}

void ShellTestModel::stopRecording() {
  model->recording().stopRecording();
  waitForPhase(RecordingPhase::idle());
}

}  // namespace tolvane::testing
