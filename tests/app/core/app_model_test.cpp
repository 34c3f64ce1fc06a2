#include "app/core/app_model.h"

#include <gtest/gtest.h>

#include <QSet>

#include <qcorotask.h>

#include "app/core/recovery_notice.h"
#include "kit/auth/memory_session_storage.h"
#include "tests/app/core/core_fakes.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/integration/server_process.h"
#include "tests/kit/media/movie_judge.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::processEventsUntil;

struct OnlineMonitor final : NetworkMonitor {
  void start(Handler handler) override { handler(true); }
  void cancel() override {}
};

class AppModelTest : public ::testing::Test {
 protected:
  // Nothing answers at the default site: every service call fails at once.
  AppModel& makeModel(const std::string& site = "http://127.0.0.1:9") {
    testing::application();
    AppModel::Settings settings;
    settings.services.vaultDirectory = dir / "vault";
    settings.services.siteURL = *Url::parse(site);
    settings.services.sessionStorage = std::make_shared<MemorySessionStorage>();
    settings.services.makeNetworkMonitor = [] { return std::make_unique<OnlineMonitor>(); };
    settings.clock = clock;
    settings.recording.settingsPath = QString::fromStdString((dir / "Tolvane.conf").string());
    settings.clipboard = clipboard;
    settings.opener = opener;
    settings.notifier = notifier;
    settings.deviceName = [] { return QStringLiteral("Test machine"); };
    settings.now = [this] { return wallNow; };
    model = std::make_unique<AppModel>(std::move(settings));
    return *model;
  }

  RecordingVault& vault() { return *model->services().vault(); }

  VaultItem addRecording(double seconds, const std::function<void(RecordingManifest&)>& change = {}) {
    const auto created = vault().createRecording("Clip", false, false, false);
    testing::writeTestMovie(created.videoPath(), seconds);
    return *vault().update(created.id(), [&](RecordingManifest& m) {
      m.state = RecordingState::ready;
      m.durationSec = seconds;
      if (change) change(m);
    });
  }

  // Reviews `item` as the recording flow does, until the review shows the held recording.
  void review(const VaultItem& item) {
    model->recordingFinished(QString::fromStdString(item.id()), item.manifest.durationSec);
    ASSERT_TRUE(processEventsUntil([&] {
      return vault().item(item.id())->manifest.holdUploadUntil.has_value() &&
             model->review().reviewTitle().toStdString() == item.manifest.title;
    }));
    QCoro::waitFor(model->library().refresh());
  }

  testing::TempDir dir;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::shared_ptr<testing::FakeClipboard> clipboard = std::make_shared<testing::FakeClipboard>();
  std::shared_ptr<testing::FakeOpener> opener = std::make_shared<testing::FakeOpener>();
  std::shared_ptr<testing::FakeNotifier> notifier = std::make_shared<testing::FakeNotifier>();
  Date wallNow = Date(std::chrono::seconds(1'800'000'000));
  std::unique_ptr<AppModel> model;
};

TEST(RecoveryNoticeTest, TheCountsChooseTheWording) {
  const struct {
    std::size_t recovered, unreadable;
    const char* text;
  } cases[] = {
      {1, 1,
       "1 recording recovered after Tolvane closed unexpectedly — it's uploading now. 1 interrupted file couldn't be "
       "read automatically. It's kept in your local recordings."},
      {2, 0, "2 recordings recovered after Tolvane closed unexpectedly — they're uploading now."},
      {0, 3, "3 interrupted file couldn't be read automatically. It's kept in your local recordings."},
      {0, 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(recoveryNoticeText(c.recovered, c.unreadable).toStdString(), c.text);
}

TEST_F(AppModelTest, BootstrapRecoversInterruptedRecordingsAndTellsTheUserEvenWithoutAWindow) {
  makeModel();
  const auto playable = vault().createRecording("Crashed", false, false, false);
  testing::writeTestMovie(playable.videoPath(), 1.0);
  const auto garbage = vault().createRecording("Garbled", false, false, false);
  testing::writeFile(garbage.videoPath(), std::string(4096, 'x'));

  QCoro::waitFor(model->bootstrap());

  const QString notice = recoveryNoticeText(1, 1);
  EXPECT_EQ(model->library().recoveryNotice(), notice);
  ASSERT_EQ(notifier->shown.size(), 1u);
  EXPECT_EQ(notifier->shown[0].body, notice);
  EXPECT_EQ(vault().item(playable.id())->manifest.state, RecordingState::ready);
  EXPECT_EQ(model->library().localItems().size(), 2);
  EXPECT_EQ(model->account().signInPhase(), AccountModel::SignInPhase::SignedOut);
  EXPECT_TRUE(model->availableUpdate().isEmpty()) << "a failed release check changes nothing";
}

TEST_F(AppModelTest, AReviewHoldsTheUploadAndItsLinkIsCopiedOnceWithANoticeThatClicksThrough) {
  makeModel();
  const auto item = addRecording(3.0);
  review(item);
  EXPECT_EQ(model->mainPane(), "review");
  EXPECT_EQ(vault().item(item.id())->manifest.holdUploadUntil, wallNow + 90s);
  EXPECT_EQ(model->review().reviewTitle(), "Clip");

  // The upload queue records the link.
  const std::string link = "https://tolvane.test/v/abc";
  vault().update(item.id(), [&](RecordingManifest& m) {
    m.state = RecordingState::uploaded;
    m.shareURL = link;
  });
  QCoro::waitFor(model->library().refresh());
  QCoro::waitFor(model->library().refresh());
  EXPECT_EQ(clipboard->copied, QStringList{QString::fromStdString(link)});
  EXPECT_EQ(model->library().lastShareURL().toStdString(), link);
  EXPECT_EQ(model->library().linkCopiedNotice(), "Link copied — paste it anywhere.");
  ASSERT_EQ(notifier->shown.size(), 1u);
  EXPECT_EQ(notifier->shown[0].summary, "Link copied — paste it anywhere.");

  clock->advance(5.9);
  EXPECT_FALSE(model->library().linkCopiedNotice().isEmpty());
  clock->advance(0.2);
  EXPECT_TRUE(model->library().linkCopiedNotice().isEmpty());
  notifier->shown[0].onClick();
  EXPECT_EQ(opener->opened, QStringList{QString::fromStdString(link)});
}

TEST_F(AppModelTest, TrimmingCutsOnlyARealRangeOfALongEnoughUnsentRecordingAndAFailedCutReleasesIt) {
  makeModel();
  auto& reviewed = model->review();
  // Trimmable: longer than one and a half seconds, and not a byte sent yet.
  review(addRecording(1.5));
  EXPECT_FALSE(reviewed.canTrim());
  review(addRecording(1.6, [](RecordingManifest& m) { m.uploadedBytes = 1; }));
  EXPECT_FALSE(reviewed.canTrim());
  const auto item = addRecording(3.0);
  const auto manifest = [&] { return vault().item(item.id())->manifest; };
  review(item);
  EXPECT_TRUE(reviewed.canTrim());
  reviewed.setTrimStart(0.04);
  reviewed.setTrimEnd(3.0 - 0.03);
  QCoro::waitFor(reviewed.trimAndUpload());
  EXPECT_EQ(manifest().fileName, "recording.mp4") << "a cut of hundredths is no cut";
  EXPECT_FALSE(manifest().holdUploadUntil);

  review(item);
  reviewed.setTrimStart(1.0);
  reviewed.setTrimEnd(1.3);
  QCoro::waitFor(reviewed.trimAndUpload());
  EXPECT_EQ(reviewed.trimError(),
            "Keep at least half a second of the recording. The full recording will upload instead.");
  EXPECT_FALSE(manifest().holdUploadUntil);

  review(item);
  reviewed.setTrimStart(0.5);
  reviewed.setTrimEnd(2.0);
  QCoro::waitFor(reviewed.trimAndUpload());
  EXPECT_EQ(manifest().fileName, "recording-trimmed.mp4");
  EXPECT_EQ(reviewed.trimStart(), 0);
  EXPECT_EQ(reviewed.trimEnd(), manifest().durationSec);
  EXPECT_TRUE(reviewed.trimError().isEmpty());
  EXPECT_FALSE(reviewed.isTrimming());
}

class AccountTest : public AppModelTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(testing::ServerProcess::program())) {
      GTEST_SKIP() << "tolvane-server is not built at " << testing::ServerProcess::program();
    }
    server.start();
  }
  AccountModel::SignInPhase phase() const { return model->account().signInPhase(); }
  QStringList libraryTitles() const {
    QStringList titles;
    for (const auto& entry : model->library().libraryItems()) titles << entry.toMap().value("title").toString();
    return titles;
  }

  testing::ServerProcess server;
};

TEST_F(AccountTest, SignInFailsSaysWhyOrIsCancelledOrLoadsTheAccountAndRenamesReachTheServiceAndSignOutKeepsLocalRecordings) {
  auto& dead = makeModel("http://127.0.0.1:" + std::to_string(testing::freeLoopbackPort())).account();
  dead.signIn();
  ASSERT_TRUE(processEventsUntil([&] { return phase() == AccountModel::SignInPhase::SignedOut; }));
  EXPECT_FALSE(dead.signInError().isEmpty());
  EXPECT_TRUE(opener->opened.isEmpty());

  auto& m = makeModel(server.url());
  m.account().signIn();
  m.account().cancelSignIn();
  EXPECT_EQ(phase(), AccountModel::SignInPhase::SignedOut);
  QList<AccountModel::SignInPhase> phases;
  QObject::connect(&m.account(), &AccountModel::signInPhaseChanged, [&] { phases << phase(); });
  m.account().signIn();
  ASSERT_TRUE(processEventsUntil([&] { return phase() == AccountModel::SignInPhase::SignedIn; }));
  EXPECT_EQ(phases, QList({AccountModel::SignInPhase::WaitingForBrowser, AccountModel::SignInPhase::SignedIn}));
  EXPECT_TRUE(m.account().signInError().isEmpty());
  ASSERT_EQ(opener->opened.size(), 1) << "the cancelled attempt opened no page: " << opener->opened.join(" ").toStdString();
  EXPECT_TRUE(opener->opened[0].startsWith(QString::fromStdString(server.url())));
  ASSERT_TRUE(processEventsUntil([&] { return !m.account().account().isEmpty(); }));
  EXPECT_EQ(m.account().email(), testing::ServerProcess::email);

  // A recording the web library has (saved without its bytes: the service lists it).
  const auto ticket = m.services().api()->createUploadTicket("Clip");
  const auto link = m.services().api()->saveRecording(ticket.uid, "Clip", 3);
  const auto item = addRecording(3.0, [&](RecordingManifest& manifest) {
    manifest.state = RecordingState::verified;
    manifest.uploadUID = ticket.uid;
    manifest.shareURL = link;
  });
  review(item);
  m.review().setReviewTitle(" \n  ");
  QCoro::waitFor(m.review().commitTitle());
  EXPECT_EQ(vault().item(item.id())->manifest.title, "Clip") << "a blank title is not saved";
  m.review().setReviewTitle("  Demo  ");
  QCoro::waitFor(m.review().commitTitle());
  EXPECT_EQ(vault().item(item.id())->manifest.title, "Demo");
  ASSERT_TRUE(processEventsUntil([&] {
    QCoro::waitFor(m.library().reloadLibrary());
    return libraryTitles() == QStringList{"Demo"};
  })) << libraryTitles().join(", ").toStdString();

  const auto localBefore = m.library().localItems();
  m.account().signOut();
  ASSERT_TRUE(processEventsUntil([&] { return phase() == AccountModel::SignInPhase::SignedOut; }));
  EXPECT_TRUE(m.library().libraryItems().isEmpty());
  EXPECT_TRUE(m.account().email().isEmpty());
  QCoro::waitFor(m.library().refresh());
  EXPECT_EQ(m.library().localItems(), localBefore);

  int loads = 0;
  QObject::connect(&m.library(), &LibraryModel::isLoadingLibraryChanged, [&] { ++loads; });
  QCoro::waitFor(m.library().reloadLibrary());
  EXPECT_EQ(loads, 0) << "signed out, the library is not asked for";
}

TEST_F(AccountTest, TheWholeWebLibraryLoadsPageByPageAndARefreshNeverShowsLessThanItHad) {
  auto& m = makeModel(server.url());
  m.account().signIn();
  ASSERT_TRUE(processEventsUntil([&] { return phase() == AccountModel::SignInPhase::SignedIn; }));
  // Two full pages and a short one.
  const auto api = m.services().api();
  const auto save = [&](int number) {
    const auto ticket = api->createUploadTicket("Clip");
    api->saveRecording(ticket.uid, "Clip " + std::to_string(number), 3);
  };
  for (int number = 0; number < 205; ++number) save(number);

  m.library().loadLibrary();
  ASSERT_TRUE(processEventsUntil([&] { return libraryTitles().size() == 205; }))
      << libraryTitles().size() << " " << m.library().libraryError().toStdString();
  const QStringList titles = libraryTitles();
  EXPECT_EQ(QSet<QString>(titles.begin(), titles.end()).size(), 205) << "each recording once";
  EXPECT_EQ(titles.first(), "Clip 204");
  EXPECT_EQ(titles.last(), "Clip 0");
  EXPECT_EQ(m.library().libraryItemsModel()->count(), 205);
  EXPECT_FALSE(m.library().isLoadingLibrary());

  // Refreshing a long list: the grid goes from the whole old list to the whole new one.
  save(205);
  QList<qsizetype> shown;
  QObject::connect(&m.library(), &LibraryModel::libraryItemsChanged,
                   [&] { shown << m.library().libraryItems().size(); });
  m.library().loadLibrary();
  ASSERT_TRUE(processEventsUntil([&] { return libraryTitles().first() == "Clip 205"; }));
  EXPECT_EQ(shown, QList<qsizetype>{206});
}

}  // namespace
}  // namespace tolvane
