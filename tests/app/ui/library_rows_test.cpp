// The local recordings as the panes get them: rows with their thumbnail, upload and
// delete flags, deletes through the Trash, and the thumbnails behind the rows.
#include <gtest/gtest.h>

#include <QQuickImageResponse>
#include <QImage>
#include <memory>

#include <qcorotask.h>

#include "app/core/app_model.h"
#include "app/core/item_list_model.h"
#include "app/core/movie_version.h"
#include "app/ui/thumbnail_image_provider.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/vault/recording_lock.h"
#include "kit/vault/recording_vault.h"
#include "tests/app/core/core_fakes.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/kit/vault/vault_test_environment.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::processEventsUntil;

struct OfflineMonitor final : NetworkMonitor {
  void start(Handler handler) override { handler(false); }
  void cancel() override {}
};

class LibraryRowsTest : public ::testing::Test {
 protected:
  LibraryRowsTest() {
    testing::application();
    AppModel::Settings settings;
    settings.services.vaultDirectory = dir / "vault";
    settings.services.siteURL = *Url::parse("http://127.0.0.1:9");
    settings.services.sessionStorage = std::make_shared<MemorySessionStorage>();
    settings.services.makeNetworkMonitor = [] { return std::make_unique<OfflineMonitor>(); };
    settings.clock = std::make_shared<FakeModelClock>();
    settings.recording.settingsPath = QString::fromStdString((dir / "Tolvane.conf").string());
    settings.clipboard = std::make_shared<testing::FakeClipboard>();
    settings.opener = std::make_shared<testing::FakeOpener>();
    settings.notifier = std::make_shared<testing::FakeNotifier>();
    settings.deviceName = [] { return QStringLiteral("Test machine"); };
    model = std::make_unique<AppModel>(std::move(settings));
  }

  RecordingVault& vault() { return *model->services().vault(); }

  VaultItem add(const std::string& title, RecordingState state, RecordingLock* lock = nullptr) {
    const auto created = vault().createRecording(title, false, false, false, lock);
    testing::writeTestMovie(created.videoPath(), 1.5, 320, 180);
    return *vault().update(created.id(), [&](RecordingManifest& m) {
      m.state = state;
      m.durationSec = 1.5;
    });
  }

  QVariantMap rowOf(const VaultItem& item) {
    ItemListModel& rows = *model->library().localItemsModel();
    return rows.get(rows.indexOf(QString::fromStdString(item.id())));
  }

  testing::TempDir dir;
  std::unique_ptr<AppModel> model;
};

TEST_F(LibraryRowsTest, RowsSayWhatMayBeDoneAndDeletesGoToTheTrashUnlessTheRecordingIsBeingWritten) {
  RecordingLock lock;
  const auto live = add("Live", RecordingState::recording, &lock);
  const auto pending = add("Pending", RecordingState::needsAttention);
  const auto safe = add("Safe", RecordingState::verified);
  LibraryModel& library = model->library();
  QCoro::waitFor(library.refresh());
  ASSERT_EQ(library.localItemsModel()->count(), 3);

  const struct {
    const VaultItem& item;
    bool pending, canDelete;
  } expected[] = {{live, false, false}, {pending, true, true}, {safe, false, true}};
  for (const auto& e : expected) {
    const QVariantMap row = rowOf(e.item);
    SCOPED_TRACE(e.item.manifest.title);
    EXPECT_EQ(row.value("thumbnailSource").toString(),
              QString::fromStdString("image://thumbnail/local/" + e.item.id() + "/" + movieVersion(e.item.videoPath())));
    EXPECT_EQ(row.value("isUploadPending").toBool(), e.pending);
    EXPECT_EQ(row.value("canDelete").toBool(), e.canDelete);
  }

  // Refused while written: a sentence, and the recording stays.
  library.deleteLocal(QString::fromStdString(live.id()));
  ASSERT_TRUE(processEventsUntil([&] { return !library.localError().isEmpty(); }));
  EXPECT_TRUE(vault().item(live.id()));

  // A Trash that cannot be reached is said, not swallowed.
  const fs::path trash = testing::testHome() / ".local/share/Trash";
  fs::remove_all(trash);
  fs::create_directories(trash.parent_path());
  testing::writeFile(trash, "not a directory");
  library.deleteLocal(QString::fromStdString(pending.id()));
  ASSERT_TRUE(processEventsUntil([&] { return library.localError().startsWith("Tolvane could not move"); }))
      << library.localError().toStdString();
  fs::remove(trash);

  // A delete that works clears the error and the row, and leaves the others in place.
  library.deleteLocal(QString::fromStdString(safe.id()));
  ASSERT_TRUE(processEventsUntil([&] { return library.localItemsModel()->count() == 2; }));
  EXPECT_TRUE(library.localError().isEmpty());
  EXPECT_FALSE(fs::exists(safe.directory));
  EXPECT_FALSE(fs::is_empty(trash / "files"));
  EXPECT_EQ(rowOf(pending).value("title").toString(), "Pending");

  // Once the recording is finished, it can go.
  lock.release();
  QCoro::waitFor(library.refresh());
  EXPECT_TRUE(rowOf(live).value("canDelete").toBool());
}

// The error the image provider finishes a request with ("" for a picture). The picture
// itself becomes a texture only inside a scene graph, which this test has none of; it is
// judged in the cache.
QString request(ThumbnailImageProvider& provider, const QString& id) {
  std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id, QSize()));
  bool finished = false;
  QObject::connect(response.get(), &QQuickImageResponse::finished, [&] { finished = true; });
  EXPECT_TRUE(processEventsUntil([&] { return finished; })) << id.toStdString();
  return response->errorString();
}

QSize pictureSize(const fs::path& file) { return QImage(QString::fromStdString(file.string())).size(); }

TEST_F(LibraryRowsTest, LocalThumbnailsAreMadeOnceIntoTheCacheAndBrokenOnesAreErrors) {
  const auto good = add("Good", RecordingState::ready);
  const auto broken = add("Broken", RecordingState::ready);
  testing::writeFile(broken.videoPath(), std::string(2048, 'x'));
  const fs::path cache = dir / "cache";
  ThumbnailImageProvider provider(model->services().vault(), nullptr, cache);

  EXPECT_EQ(request(provider, QString::fromStdString("local/" + good.id())), "");
  std::vector<fs::path> cached;
  for (const auto& entry : fs::directory_iterator(cache)) cached.push_back(entry.path());
  ASSERT_EQ(cached.size(), 1u);
  EXPECT_TRUE(cached[0].filename().string().starts_with(good.id() + "-"));
  EXPECT_EQ(pictureSize(cached[0]), QSize(320, 180));
  // Nothing lands beside the recording.
  for (const auto& entry : fs::directory_iterator(good.directory)) EXPECT_NE(entry.path().extension(), ".jpg");

  // Made once: the second request reads the cached picture...
  const auto stamp = fs::last_write_time(cached[0]);
  EXPECT_EQ(request(provider, QString::fromStdString("local/" + good.id())), "");
  EXPECT_EQ(fs::last_write_time(cached[0]), stamp);
  // ...until the movie changes (a trim rewrites it, within the same second): the row
  // gets a new address, so the views' image cache misses, and the request a new picture
  // in place of the old one, even by an address from before.
  LibraryModel& library = model->library();
  QCoro::waitFor(library.refresh());
  const QString before = rowOf(good).value("thumbnailSource").toString();
  fs::last_write_time(good.videoPath(), fs::last_write_time(good.videoPath()) + std::chrono::milliseconds(1));
  QCoro::waitFor(library.refresh());
  EXPECT_NE(rowOf(good).value("thumbnailSource").toString(), before);
  EXPECT_EQ(request(provider, QString::fromStdString("local/" + good.id() + "/stale-version")), "");
  std::vector<fs::path> remade;
  for (const auto& entry : fs::directory_iterator(cache)) remade.push_back(entry.path());
  ASSERT_EQ(remade.size(), 1u);
  EXPECT_NE(remade[0], cached[0]);

  // A request the view drops still finishes, so that the engine can let go of it.
  std::unique_ptr<QQuickImageResponse> dropped(
      provider.requestImageResponse(QString::fromStdString("local/" + good.id()), QSize()));
  bool droppedFinished = false;
  QObject::connect(dropped.get(), &QQuickImageResponse::finished, [&] { droppedFinished = true; });
  dropped->cancel();
  EXPECT_TRUE(processEventsUntil([&] { return droppedFinished; }));

  for (const std::string& id : {"local/" + broken.id(), std::string("local/no-such-id"), std::string("elsewhere/x"),
                                std::string("remote/http%3A%2F%2F127.0.0.1%3A9%2Fa.jpg")}) {
    EXPECT_NE(request(provider, QString::fromStdString(id)), "") << id;
  }

  // A provider going away with a list's pictures still queued (the application quits
  // while they load) ends its jobs before it is gone, and answers every response still.
  auto leaving = std::make_unique<ThumbnailImageProvider>(model->services().vault(), nullptr, dir / "cache-2");
  std::vector<std::unique_ptr<QQuickImageResponse>> pending;
  int answered = 0;
  for (int i = 0; i < 40; ++i) {
    pending.emplace_back(leaving->requestImageResponse(QString::fromStdString("local/" + good.id()), QSize(16 + i, 9)));
    QObject::connect(pending.back().get(), &QQuickImageResponse::finished, [&] { ++answered; });
  }
  leaving.reset();
  EXPECT_TRUE(processEventsUntil([&] { return answered == 40; })) << answered << " of 40 answered";
}

}  // namespace
}  // namespace tolvane
