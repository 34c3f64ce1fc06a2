#include "tests/app/desktop_test_env.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QSettings>
#include <QThread>
#include <cstdlib>
#include <map>
#include <vector>

#include <qcorotask.h>

#include "app/capture/sources/synthetic_sources.h"
#include "kit/auth/memory_session_storage.h"
#include "tests/app/core/core_fakes.h"
#include "tests/app/core/core_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace tolvane::testing {
namespace {

struct FixedMonitor final : NetworkMonitor {
  explicit FixedMonitor(bool isOnline) : online(isOnline) {}
  void start(Handler handler) override { handler(online); }
  void cancel() override {}
  bool online;
};

struct SceneCatalog final : SourceCatalog {
  explicit SceneCatalog(bool hasMicrophone) : withMicrophone(hasMicrophone) {}
  ShareableContent shareableContent() override {
    ShareableContent content;
    content.displays.push_back({SyntheticSources::screenDisplayID, "Built-in display", 0, 0, 1280, 720});
    return content;
  }
  std::vector<AudioDeviceOption> microphones() override {
    if (!withMicrophone) return {};
    return {{std::string(SyntheticSources::toneID), "Tone"}};
  }
  std::vector<CameraOption> cameras() override { return {{std::string(SyntheticSources::barsID), "Colour bars"}}; }
  bool withMicrophone;
};

struct Allowed final : DevicePermissions {
  bool screenRecordingGranted() override { return true; }
  PermissionStatus microphoneStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
  PermissionStatus cameraStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
};

struct Desktop {
  XvfbServer xvfb{1920, 1080};
  TempDir home;
  ScopedEnv display{"DISPLAY", xvfb.displayName().c_str()};
  ScopedEnv platform{"QT_QPA_PLATFORM", "xcb"};
  ScopedEnv backend{"QT_QUICK_BACKEND", "software"};
  ScopedEnv style{"QT_QUICK_CONTROLS_STYLE", "Basic"};
  ScopedEnv config{"XDG_CONFIG_HOME", (home / "config").c_str()};
  Desktop() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((home / "settings").string()));
  }
};

}  // namespace

const std::string& testDisplayName() {
  static Desktop desktop;
  return desktop.xvfb.displayName();
}

AppModel::Settings sceneModelSettings(const std::filesystem::path& dir, std::shared_ptr<ModelClock> clock,
                                      bool withMicrophone, bool online) {
  AppModel::Settings settings;
  settings.services.vaultDirectory = dir / "vault";
  settings.services.siteURL = *Url::parse("http://127.0.0.1:9");  // nothing answers there
  settings.services.sessionStorage = std::make_shared<MemorySessionStorage>();
  settings.services.makeNetworkMonitor = [online] { return std::make_unique<FixedMonitor>(online); };
  settings.clock = std::move(clock);
  settings.clipboard = std::make_shared<FakeClipboard>();
  settings.opener = std::make_shared<FakeOpener>();
  settings.notifier = std::make_shared<FakeNotifier>();
  settings.deviceName = [] { return QStringLiteral("Test machine"); };
  settings.recording.settingsPath = QString::fromStdString((dir / "Tolvane.conf").string());
  settings.recording.catalog = std::make_shared<SceneCatalog>(withMicrophone);
  settings.recording.permissions = std::make_shared<Allowed>();
  settings.recording.defaultMicrophoneID = [] { return std::nullopt; };
  settings.recording.freeBytes = [] { return std::int64_t{100'000'000'000}; };
  return settings;
}

bool readSceneSources(RecordingController& recording) {
  recording.setIncludeSystemAudio(false);
  auto sources = recording.refreshSourcesAsync();
  if (!spinUntil([&] { return sources.isReady(); })) return false;
  auto permissions = recording.refreshPermissionsAsync();
  return spinUntil([&] { return permissions.isReady(); });
}

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  return runEventsUntil(done, deadline);
}

bool saveForReview(QWindow& window, const std::string& name) {
  spinUntil([] { return false; }, std::chrono::milliseconds(700));
  auto* quick = qobject_cast<QQuickWindow*>(&window);
  return quick && quick->grabWindow().save(QString::fromStdString((screenshotDirectory() / name).string()));
}

std::filesystem::path screenshotDirectory() {
  const char* build = std::getenv("TOLVANE_BUILD_DIR");
  std::filesystem::path dir = std::filesystem::path(build ? build : ".") / "artifacts" / "screenshots";
  std::filesystem::create_directories(dir);
  return dir;
}

PrivateBus::PrivateBus(const std::filesystem::path& folder)
    : address_("unix:path=" + (folder / "bus").string()),
      printed_(folder / "bus.log"),
      daemon_({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1", "--address=" + address_},
              {}, printed_) {
  // The address is printed once the bus accepts connections (the socket file comes sooner).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (readFile(printed_).find("unix:") == std::string::npos && std::chrono::steady_clock::now() < until) {
    QThread::msleep(10);
  }
}

}  // namespace tolvane::testing
