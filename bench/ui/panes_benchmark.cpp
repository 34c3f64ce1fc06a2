// How the main window's long lists behave with a large vault and library: 1,000
// recordings on this computer (manifests and a small real movie each, so thumbnails are
// decoded) and 1,000 items in the web library (served by an in-process fake of the
// service, with a JPEG for every card). Prints the time from selecting the local pane to
// the first frame that shows rows, and the mean, 95th percentile and worst frame time
// while each list is scrolled from top to bottom, one step per frame. Runs against
// whatever panes are in the tree; the figures are from the software renderer under a
// private Xvfb.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/core/app_model.h"
#include "app/core/item_list_model.h"
#include "app/ui/main_window_controller.h"
#include "app/ui/thumbnail_image_provider.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/base/iso8601.h"
#include "kit/media/thumbnail_maker.h"
#include "kit/net/http_performing.h"
#include "kit/vault/recording_vault.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/app/desktop_test_env.h"
#include "tests/app/ui/fake_actions.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

constexpr int kItems = 1000;

// The service as far as the library pane asks it: the list of recordings and their
// pictures.
class FakeService final : public HTTPPerforming {
 public:
  FakeService(nlohmann::json library, std::string jpeg) : library_(std::move(library)), jpeg_(std::move(jpeg)) {}
  HTTPResponse data(const HTTPRequest& request, std::stop_token) override {
    if (request.url.find("/api/recordings") != std::string::npos) return {200, {}, page(request.url)};
    if (request.url.ends_with("/api/me")) {
      return {200, {}, R"({"email":"bench@example.com","pro":false,"lifetime":false,"admin":false})"};
    }
    if (request.url.ends_with("/thumbnail.jpg")) return {200, {{"Content-Type", "image/jpeg"}}, jpeg_};
    return {404, {}, R"({"error":"Not found","code":"not_found"})"};
  }
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte>, std::stop_token stop) override {
    return data(request, stop);
  }

 private:
  // The "limit" and "offset" of the request, as the service pages its library.
  std::string page(const std::string& url) const {
    const auto number = [&](const std::string& name, std::size_t fallback) {
      const auto at = url.find(name + "=");
      return at == std::string::npos ? fallback : std::size_t(std::stoull(url.substr(at + name.size() + 1)));
    };
    const std::size_t offset = std::min(number("offset", 0), library_.size());
    const std::size_t end = std::min(offset + number("limit", 100), library_.size());
    return nlohmann::json{{"recordings", nlohmann::json(std::vector<nlohmann::json>(
                                             library_.begin() + std::ptrdiff_t(offset), library_.begin() + std::ptrdiff_t(end)))}}
        .dump();
  }

  nlohmann::json library_;
  std::string jpeg_;
};

nlohmann::json libraryJSON() {
  nlohmann::json recordings = nlohmann::json::array();
  const Date now = std::chrono::system_clock::now();
  for (int i = 0; i < kItems; ++i) {
    const std::string uid = "00000000-0000-4000-8000-" + std::to_string(100000000000 + i);
    recordings.push_back({{"id", uid},
                          {"title", "Library recording " + std::to_string(i + 1)},
                          {"durationSec", 30 + i % 600},
                          {"createdAt", formatISO8601(now - std::chrono::hours(i))},
                          {"views", i % 7},
                          {"mine", true},
                          {"sharedWithTeam", false},
                          {"thumbnail", "http://127.0.0.1:9/v/" + uid + "/thumbnail.jpg"},
                          {"shareUrl", "http://127.0.0.1:9/v/" + uid}});
  }
  return recordings;
}

void fillVault(const std::filesystem::path& directory, const std::filesystem::path& movie) {
  RecordingVault vault(directory);
  const RecordingState states[] = {RecordingState::verified, RecordingState::verified, RecordingState::ready,
                                   RecordingState::needsAttention, RecordingState::uploading};
  for (int i = 0; i < kItems; ++i) {
    const auto item = vault.createRecording("Recording " + std::to_string(i + 1), false, false, false);
    std::filesystem::copy_file(movie, item.videoPath(), std::filesystem::copy_options::overwrite_existing);
    vault.update(item.id(), [&](RecordingManifest& m) {
      m.state = states[i % 5];
      m.durationSec = 2;
      m.uploadedBytes = m.state == RecordingState::uploading ? 1000 : 0;
      if (m.state == RecordingState::verified) m.shareURL = "http://127.0.0.1:9/v/" + m.id;
    });
  }
}

// Frame times from QQuickWindow::frameSwapped.
class FrameClock {
 public:
  explicit FrameClock(QQuickWindow& window) {
    clock_.start();
    QObject::connect(
        &window, &QQuickWindow::frameSwapped, &window,
        [this] {
          std::lock_guard lock(mutex_);
          frames_.push_back(clock_.nsecsElapsed());
        },
        Qt::DirectConnection);
  }
  qint64 now() const { return clock_.nsecsElapsed(); }
  size_t count() {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }
  qint64 last() {
    std::lock_guard lock(mutex_);
    return frames_.empty() ? 0 : frames_.back();
  }
  std::vector<qint64> since(size_t first) {
    std::lock_guard lock(mutex_);
    return {frames_.begin() + qsizetype(std::min(first, frames_.size())), frames_.end()};
  }

 private:
  QElapsedTimer clock_;
  std::mutex mutex_;
  std::vector<qint64> frames_;
};

QQuickItem* currentPane(QQuickWindow& window) {
  auto* loader = window.findChild<QQuickItem*>(QStringLiteral("paneLoader"));
  return loader ? loader->property("item").value<QQuickItem*>() : nullptr;
}

// A list view or repeater in the pane that has rows.
bool hasRows(QQuickItem* pane) {
  if (pane == nullptr) return false;
  for (QObject* child : pane->findChildren<QObject*>()) {
    if ((child->inherits("QQuickItemView") || child->inherits("QQuickRepeater")) &&
        child->property("count").toInt() > 0) {
      return true;
    }
  }
  return false;
}

// The pane's flickable with the most content: the list to scroll.
QQuickItem* longestFlickable(QQuickItem* pane) {
  QQuickItem* best = nullptr;
  if (pane == nullptr) return best;
  if (pane->inherits("QQuickFlickable")) best = pane;
  for (QQuickItem* child : pane->findChildren<QQuickItem*>()) {
    if (!child->inherits("QQuickFlickable") || !child->isVisible()) continue;
    if (!best || child->property("contentHeight").toDouble() > best->property("contentHeight").toDouble()) best = child;
  }
  return best;
}

bool waitForFrame(FrameClock& frames, QQuickWindow& window) {
  const size_t before = frames.count();
  window.update();
  return testing::spinUntil([&] { return frames.count() > before; }, std::chrono::seconds(10));
}

struct Scroll {
  int frames = 0;
  double meanMs = 0, p95Ms = 0, worstMs = 0;
  double contentHeight = 0;
};

// One step of 60 % of the view per frame, top to bottom.
Scroll scrollThrough(FrameClock& frames, QQuickWindow& window, QQuickItem* flickable) {
  Scroll result;
  if (flickable == nullptr) return result;
  flickable->setProperty("contentY", 0);
  waitForFrame(frames, window);
  const size_t first = frames.count();
  const qint64 start = frames.last();
  const double step = std::max(40.0, flickable->height() * 0.6);
  for (int guard = 0; guard < 20000; ++guard) {
    const double maxY = flickable->property("contentHeight").toDouble() - flickable->height() +
                        flickable->property("originY").toDouble();
    const double y = flickable->property("contentY").toDouble();
    if (y >= maxY - 0.5) break;
    flickable->setProperty("contentY", std::min(y + step, maxY));
    if (!waitForFrame(frames, window)) break;
  }
  std::vector<qint64> stamps = frames.since(first);
  stamps.insert(stamps.begin(), start);
  std::vector<double> gaps;
  for (size_t i = 1; i < stamps.size(); ++i) gaps.push_back(double(stamps[i] - stamps[i - 1]) / 1e6);
  result.frames = int(gaps.size());
  if (!gaps.empty()) {
    result.meanMs = std::accumulate(gaps.begin(), gaps.end(), 0.0) / double(gaps.size());
    result.worstMs = *std::max_element(gaps.begin(), gaps.end());
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    result.p95Ms = sorted[std::min(sorted.size() - 1, std::size_t(double(sorted.size()) * 0.95))];
  }
  result.contentHeight = flickable->property("contentHeight").toDouble();
  return result;
}

int run() {
  // Each figure is out as soon as it is measured, whatever happens afterwards.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  auto& app = testing::desktopApplication<QGuiApplication>();
  (void)app;
  testing::TempDir dir;

  const auto movie = dir / "movie.mp4";
  const auto made = testing::runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                         "testsrc=duration=2:size=640x360:rate=15", "-pix_fmt", "yuv420p", "-c:v",
                                         "libx264", "-preset", "ultrafast", movie.string()});
  if (made.status != 0) {
    std::fprintf(stderr, "ffmpeg failed: %s\n", made.err.c_str());
    return 1;
  }
  QElapsedTimer setup;
  setup.start();
  fillVault(dir / "vault", movie);
  std::printf("vault: %d recordings (manifest + 2 s 640x360 movie each) made in %.1f s\n", kItems,
              double(setup.elapsed()) / 1000);

  auto clock = std::make_shared<FakeModelClock>();
  AppModel::Settings settings = testing::sceneModelSettings(dir.path(), clock, false, /*online=*/false);
  const auto http = std::make_shared<FakeService>(libraryJSON(), ThumbnailMaker::jpeg(movie));
  settings.services.http = http;
  settings.services.sessionStorage = std::make_shared<MemorySessionStorage>(
      AuthSession{"access", "refresh", std::chrono::system_clock::now() + std::chrono::hours(24), "bench@example.com"});
  AppModel model(std::move(settings));
  testing::FakeActions actions;
  QQmlEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  engine.rootContext()->setContextProperty(QStringLiteral("model"), &model);
  engine.rootContext()->setContextProperty(QStringLiteral("actions"), &actions);
  engine.addImageProvider(QStringLiteral("thumbnail"),
                          new ThumbnailImageProvider(model.services().vault(), http, dir / "thumbnails"));
  MainWindowController controller(model, engine);
  controller.show(QStringLiteral("record"));
  QQuickWindow* window = controller.window();
  if (window == nullptr || !testing::spinUntil([&] { return window->isExposed(); })) {
    std::fprintf(stderr, "the main window did not show\n");
    return 1;
  }
  FrameClock frames(*window);

  // The model reads the session and scans the vault as at launch, before the user
  // opens the pane.
  auto restoring = model.account().restoreSession();
  testing::spinUntil([&] { return restoring.isReady(); });
  auto scanning = model.library().refresh();
  testing::spinUntil([&] { return scanning.isReady(); });
  waitForFrame(frames, *window);
  std::printf("local items in the model: %d\n", model.library().localItemsModel()->count());

  const qint64 selected = frames.now();
  model.selectPane(QStringLiteral("local"));
  bool shown = false;
  testing::spinUntil(
      [&] {
        if (hasRows(currentPane(*window)) && frames.last() > selected) shown = true;
        return shown;
      },
      std::chrono::seconds(60));
  // The first frame that came after the rows existed.
  waitForFrame(frames, *window);
  std::printf("local pane: first frame with rows %.1f ms after selectPane(\"local\")%s\n",
              double(frames.last() - selected) / 1e6, shown ? "" : " (no rows seen)");

  const Scroll local = scrollThrough(frames, *window, longestFlickable(currentPane(*window)));
  std::printf("local list: %d frames over %.0f px, mean %.1f ms, p95 %.1f ms, worst %.1f ms\n", local.frames,
              local.contentHeight, local.meanMs, local.p95Ms, local.worstMs);

  model.selectPane(QStringLiteral("library"));
  const bool loaded = testing::spinUntil([&] { return model.library().libraryItemsModel()->count() == kItems; },
                                         std::chrono::seconds(60));
  testing::spinUntil([&] { return hasRows(currentPane(*window)); }, std::chrono::seconds(60));
  waitForFrame(frames, *window);
  std::printf("library items in the model: %d%s\n", model.library().libraryItemsModel()->count(),
              loaded ? "" : " (not all loaded)");
  const Scroll library = scrollThrough(frames, *window, longestFlickable(currentPane(*window)));
  std::printf("library grid: %d frames over %.0f px, mean %.1f ms, p95 %.1f ms, worst %.1f ms\n", library.frames,
              library.contentHeight, library.meanMs, library.p95Ms, library.worstMs);
  controller.hide();
  return 0;
}

}  // namespace
}  // namespace tolvane

int main() { return tolvane::run(); }
