#include "app/shell/action_router.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/shell/autostart_entry.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/shell/shell_model_fixture.h"

namespace tolvane {
namespace {

using Phase = RecordingPhase;

class ActionRouterTest : public testing::ShellModelFixture {
 protected:
  // Every action's state, as "name" for enabled and "-name" for disabled.
  QStringList enabledState() const {
    QStringList state;
    for (const char* name : {"start-recording", "stop-recording", "toggle-pause", "toggle-drawing", "sign-in",
                             "sign-out", "check-for-updates", "about"}) {
      state << (router.isEnabled(QString::fromLatin1(name)) ? "" : "-") + QString::fromLatin1(name);
    }
    return state;
  }

  testing::TempDir config;
  AutostartEntry autostart{QString::fromStdString(config.path().string())};
  testing::FakeHost host;
  ActionRouter router{*model, host, autostart};
};

TEST_F(ActionRouterTest, TheRecordingActionsFollowThePhaseAndDisabledOnesDoNothing) {
  int enabledChanged = 0;
  QObject::connect(&router, &ActionRouter::enabledChanged, [&] { ++enabledChanged; });
  EXPECT_EQ(enabledState(), QStringList({"start-recording", "-stop-recording", "-toggle-pause", "-toggle-drawing",
                                         "sign-in", "-sign-out", "check-for-updates", "about"}));
  // Asked for from outside while idle (over D-Bus, say): nothing happens.
  router.trigger(AppAction::stopRecording);
  router.trigger(AppAction::toggleDrawing);
  router.trigger(AppAction::togglePause);
  EXPECT_EQ(model->recording().phase(), Phase::idle());
  EXPECT_FALSE(model->annotations().isDrawing());

  EXPECT_TRUE(router.trigger(QStringLiteral("start-recording")));
  waitForPhase(Phase::countdown(3));
  // Start stays enabled during the countdown; a second start changes nothing.
  EXPECT_TRUE(router.isEnabled(AppAction::startRecording));
  router.trigger(AppAction::startRecording);
  clock->advance(1);
  waitForPhase(Phase::countdown(2));
  EXPECT_EQ(enabledChanged, 0) << "the countdown changes no action's state";

  clock->advance(2);
  waitForPhase(Phase::recording());
  EXPECT_EQ(enabledChanged, 1);
  EXPECT_EQ(enabledState(), QStringList({"-start-recording", "stop-recording", "toggle-pause", "toggle-drawing",
                                         "sign-in", "-sign-out", "check-for-updates", "about"}));
  EXPECT_TRUE(router.enabledActions().contains("stop-recording"));
  EXPECT_FALSE(router.enabledActions().contains("start-recording"));
  router.trigger(AppAction::startRecording);  // disabled: no second recording
  router.trigger(AppAction::togglePause);
  waitForPhase(Phase::paused());
  EXPECT_EQ(enabledChanged, 1) << "recording and paused enable the same actions";
  router.trigger(AppAction::toggleDrawing);
  EXPECT_TRUE(model->annotations().isDrawing()) << "drawing works while paused";
  router.trigger(AppAction::togglePause);
  waitForPhase(Phase::recording());
  router.trigger(AppAction::toggleDrawing);
  EXPECT_FALSE(model->annotations().isDrawing());

  router.trigger(AppAction::stopRecording);
  EXPECT_EQ(model->recording().phase(), Phase::finishing());
  EXPECT_TRUE(router.isEnabled(AppAction::startRecording)) << "start is enabled while finishing";
  waitForPhase(Phase::idle());
  EXPECT_EQ(enabledChanged, 2);
  EXPECT_TRUE(host.calls.isEmpty());
}

TEST_F(ActionRouterTest, SignInAndSignOutFollowTheSignInPhase) {
  // Nothing answers at the test's site, so an attempt can fail on its own before trigger()
  // returns: what the actions said is written down at each change of the phase.
  int enabledChanged = 0;
  QObject::connect(&router, &ActionRouter::enabledChanged, [&] { ++enabledChanged; });
  QStringList seen;
  QObject::connect(&model->account(), &AccountModel::signInPhaseChanged, [&] {
    QString state = QString::number(int(model->account().signInPhase()));
    for (AppAction action : {AppAction::signIn, AppAction::signOut, AppAction::cancelSignIn}) {
      state += router.isEnabled(action) ? " +" : " -";
    }
    seen << state + " " + QString::number(enabledChanged);
  });
  router.trigger(AppAction::signOut);  // signed out already: disabled
  EXPECT_TRUE(seen.isEmpty());

  router.trigger(AppAction::signIn);
  router.trigger(AppAction::cancelSignIn);
  ASSERT_TRUE(processEventsUntil(
      [&] { return model->account().signInPhase() == AccountModel::SignInPhase::SignedOut; }));
  const auto waiting = QString::number(int(AccountModel::SignInPhase::WaitingForBrowser));
  const auto signedOut = QString::number(int(AccountModel::SignInPhase::SignedOut));
  EXPECT_EQ(seen, QStringList({waiting + " - - + 1", signedOut + " + - - 2"}));
  EXPECT_TRUE(router.isEnabled(AppAction::signIn));
}

TEST_F(ActionRouterTest, WindowAndDesktopActionsReachTheHostAndTheDesktop) {
  for (const char* name : {"show-record", "show-library", "show-local", "show-main-window", "check-for-updates",
                           "about", "quit"}) {
    EXPECT_TRUE(router.trigger(QString::fromLatin1(name))) << name;
  }
  EXPECT_EQ(host.calls, QStringList({"window:record", "window:library", "window:local", "window:current", "updates",
                                     "about", "quit"}));
  EXPECT_FALSE(router.trigger(QStringLiteral("format-disk")));
  EXPECT_FALSE(router.isEnabled(QStringLiteral("format-disk")));

  router.trigger(AppAction::openWebLibrary);
  router.trigger(AppAction::openHelp);
  router.trigger(AppAction::openVaultFolder);
  EXPECT_EQ(opener->opened,
            QStringList({"http://127.0.0.1:9/library", "http://127.0.0.1:9/",
                         "file:" + QString::fromStdString((dir / "vault").string())}));

  router.trigger(AppAction::copyLastLink);
  EXPECT_TRUE(clipboard->copied.isEmpty()) << "no link yet, nothing to copy";
  model->library().setLastShareURL(QStringLiteral("https://tolvane.test/v/abc"));
  router.trigger(AppAction::copyLastLink);
  EXPECT_EQ(clipboard->copied, QStringList({"https://tolvane.test/v/abc"}));
}

TEST_F(ActionRouterTest, OpenAtLoginTogglesTheAutostartEntry) {
  int changed = 0;
  QObject::connect(&router, &ActionRouter::openAtLoginChanged, [&] { ++changed; });
  EXPECT_FALSE(router.openAtLogin());
  router.trigger(QStringLiteral("open-at-login"));
  EXPECT_TRUE(router.openAtLogin());
  EXPECT_TRUE(std::filesystem::is_regular_file(config / "autostart/com.tolvanelabs.Tolvane.desktop"));
  router.trigger(AppAction::toggleOpenAtLogin);
  EXPECT_FALSE(router.openAtLogin());
  EXPECT_EQ(changed, 2);
}

TEST(AutostartEntryTest, WritesAndRemovesTheEntry) {
  testing::TempDir config;
  AutostartEntry entry(QString::fromStdString(config.path().string()));
  const auto file = config / "autostart/com.tolvanelabs.Tolvane.desktop";
  EXPECT_EQ(entry.path().toStdString(), file.string());
  EXPECT_FALSE(entry.isEnabled());
  EXPECT_TRUE(entry.setEnabled(false)) << "removing an absent entry is no failure";

  ASSERT_TRUE(entry.setEnabled(true));  // the autostart folder is made on the way
  EXPECT_TRUE(entry.isEnabled());
  const std::string text = testing::readFile(file);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
  for (const char* line : {"\nType=Application\n", "\nName=Tolvane\n", "\nExec=tolvane\n",
                           "\nIcon=com.tolvanelabs.Tolvane\n", "\nX-GNOME-Autostart-enabled=true\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  ASSERT_TRUE(entry.setEnabled(true));  // again: still one whole entry
  EXPECT_EQ(testing::readFile(file), text);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config / "autostart"), {}), 1)
      << "no temporary file is left beside it";

  EXPECT_TRUE(entry.setEnabled(false));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(AutostartEntryTest, FollowsXdgConfigHomeAndFailsCleanlyWhereNothingCanBeWritten) {
  testing::TempDir home;
  {
    testing::ScopedEnv config("XDG_CONFIG_HOME", (home / "cfg").c_str());
    EXPECT_EQ(AutostartEntry().path().toStdString(), (home / "cfg/autostart/com.tolvanelabs.Tolvane.desktop").string());
  }
  {
    // A relative value is not a base directory; the home folder's .config is.
    testing::ScopedEnv config("XDG_CONFIG_HOME", "relative/cfg");
    testing::ScopedEnv user("HOME", home.path().c_str());
    EXPECT_EQ(AutostartEntry().path().toStdString(),
              (home / ".config/autostart/com.tolvanelabs.Tolvane.desktop").string());
  }
  // The config folder is a file: nothing can be made under it.
  testing::writeFile(home / "blocked", "not a folder");
  AutostartEntry blocked(QString::fromStdString((home / "blocked").string()));
  EXPECT_FALSE(blocked.setEnabled(true));
  EXPECT_FALSE(blocked.isEnabled());
}

}  // namespace
}  // namespace tolvane
