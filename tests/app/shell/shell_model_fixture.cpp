#include "tests/app/shell/shell_model_fixture.h"

#include <qcorotask.h>

#include "app/capture/sources/synthetic_sources.h"
#include "kit/auth/memory_session_storage.h"
#include "tests/app/core/core_test_support.h"

namespace tolvane::testing {
namespace {

struct OnlineMonitor final : NetworkMonitor {
  void start(Handler handler) override { handler(true); }
  void cancel() override {}
};

struct SceneCatalog final : SourceCatalog {
  ShareableContent shareableContent() override {
    ShareableContent content;
    content.displays.push_back({SyntheticSources::screenDisplayID, "Test scene", 0, 0, 1280, 720});
    return content;
  }
  std::vector<AudioDeviceOption> microphones() override { return {}; }
  std::vector<CameraOption> cameras() override { return {{std::string(SyntheticSources::barsID), "Bars"}}; }
};

struct Allowed final : DevicePermissions {
  bool screenRecordingGranted() override { return true; }
  PermissionStatus microphoneStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
  PermissionStatus cameraStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
};

}  // namespace

ShellModelFixture::ShellModelFixture() {
  application();
  AppModel::Settings settings;
  settings.services.vaultDirectory = dir / "vault";
  settings.services.siteURL = *Url::parse("http://127.0.0.1:9");  // nothing answers there
  settings.services.sessionStorage = std::make_shared<MemorySessionStorage>();
  settings.services.makeNetworkMonitor = [] { return std::make_unique<OnlineMonitor>(); };
  settings.clock = clock;
  settings.clipboard = clipboard;
  settings.opener = opener;
  settings.notifier = notifier;
  settings.deviceName = [] { return QStringLiteral("Test machine"); };
  settings.recording.settingsPath = QString::fromStdString((dir / "Tolvane.conf").string());
  settings.recording.catalog = std::make_shared<SceneCatalog>();
  settings.recording.permissions = std::make_shared<Allowed>();
  settings.recording.defaultMicrophoneID = [] { return std::nullopt; };
  settings.recording.freeBytes = [] { return std::int64_t{100'000'000'000}; };
  model = std::make_unique<AppModel>(std::move(settings));
  recording().setIncludeSystemAudio(false);  // no sound server here
  auto refreshing = recording().refreshSourcesAsync();
  EXPECT_TRUE(processEventsUntil([&] { return refreshing.isReady(); }));
  auto permissions = recording().refreshPermissionsAsync();
  EXPECT_TRUE(processEventsUntil([&] { return permissions.isReady(); }));
}

ShellModelFixture::~ShellModelFixture() {
  // A recording still under way is finished before the model goes.
  if (recording().phase().isCapturing()) recording().stopRecording();
  processEventsUntil([&] { return !recording().phase().is(RecordingPhase::Kind::finishing); });
}

void ShellModelFixture::waitForPhase(const RecordingPhase& phase) {
  ASSERT_TRUE(processEventsUntil([&] { return recording().phase() == phase; })) << recording().phase().text();
}

void ShellModelFixture::startRecording() {
  recording().startCountdown();
  waitForPhase(RecordingPhase::countdown(3));
  clock->advance(3);
  waitForPhase(RecordingPhase::recording());
}

}  // namespace tolvane::testing
