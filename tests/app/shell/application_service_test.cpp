#include "app/shell/application_service.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QObject>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <memory>
#include <vector>

#include "tests/app/core/core_test_support.h"
#include "tests/app/shell/shell_model_fixture.h"
#include "tests/app/desktop_test_env.h"

namespace tolvane {
namespace {

using testing::processEventsUntil;
using Phase = RecordingPhase;

const QString kName = QStringLiteral("com.tolvanelabs.Tolvane");
const QString kPath = QStringLiteral("/com/tolvanelabs/Tolvane");

// Collects the State interface's PropertiesChanged signals as a client sees them.
class ChangeListener : public QObject {
  Q_OBJECT

 public:
  explicit ChangeListener(QDBusConnection bus) {
    bus.connect(kName, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                this, SLOT(changed(QString, QVariantMap, QStringList)));
  }
  std::vector<QVariantMap> received;

 public slots:
  void changed(const QString& interface, const QVariantMap& properties, const QStringList&) {
    if (interface == QLatin1String(ApplicationService::kStateInterface)) received.push_back(properties);
  }
};

// One private session bus for the suite: the process's session connection is made once,
// so every test of the suite shares it. Stopped by PID when the program ends.
class ApplicationServiceTest : public testing::ShellModelFixture {
 protected:
  static void SetUpTestSuite() {
    testing::application();
    static testing::TempDir busDir;
    static testing::PrivateBus daemon(busDir.path());
    address = daemon.qAddress();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  }
  static void TearDownTestSuite() {
    for (const char* name : {"client", "second", "none"}) QDBusConnection::disconnectFromBus(QLatin1String(name));
  }

  void SetUp() override { ASSERT_TRUE(client.isConnected()) << client.lastError().message().toStdString(); }

  // A call from another program: answered while this test's event loop runs.
  QDBusMessage call(const QString& interface, const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kName, kPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = client.asyncCall(message);
    EXPECT_TRUE(processEventsUntil([&] { return pending.isFinished(); }));
    return pending.reply();
  }
  QDBusMessage activateAction(const QString& name) {
    return call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"),
                {name, QVariant::fromValue(QVariantList{}), QVariantMap{}});
  }
  QVariant property(const QString& name) {
    const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                    {QString::fromLatin1(ApplicationService::kStateInterface), name});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
  }
  // What a second launch does, from its own connection and thread (the call blocks).
  bool forward(const std::optional<QString>& action, QString* error) {
    QDBusConnection second = QDBusConnection::connectToBus(address, QStringLiteral("second"));
    auto answer = std::async(std::launch::async, [&] {
      return ApplicationService::forwardToRunningInstance(second, action, error);
    });
    EXPECT_TRUE(processEventsUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return answer.get();
  }

  static inline QString address;

  QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
  int activations = 0;
  std::unique_ptr<ApplicationService> service =
      std::make_unique<ApplicationService>(*model, router, [this] { ++activations; });
};

TEST_F(ApplicationServiceTest, OneInstanceOwnsTheNameAndALaterLaunchForwardsToIt) {
  // Without a bus the application runs alone.
  const QDBusConnection none = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=") + QString::fromStdString((dir / "no-bus").string()), QStringLiteral("none"));
  EXPECT_EQ(service->registerOn(none), ApplicationService::Registration::noBus);
  QString error;
  EXPECT_FALSE(ApplicationService::forwardToRunningInstance(none, QStringLiteral("start-recording"), &error));
  EXPECT_FALSE(forward(std::nullopt, &error)) << "nobody to forward to yet";
  EXPECT_TRUE(error.isEmpty());

  ASSERT_EQ(service->registerOnSessionBus(), ApplicationService::Registration::owned);
  ApplicationService second(*model, router, [] {});
  EXPECT_EQ(second.registerOn(QDBusConnection::connectToBus(address, QStringLiteral("second"))),
            ApplicationService::Registration::heldByAnother);

  EXPECT_TRUE(forward(std::nullopt, &error));
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  EXPECT_TRUE(processEventsUntil([&] { return activations == 1; }));
  EXPECT_TRUE(forward(QStringLiteral("show-library"), &error));
  EXPECT_TRUE(processEventsUntil([&] { return host.calls == QStringList{"window:library"}; })) << host.calls.join(",").toStdString();
  EXPECT_TRUE(forward(QStringLiteral("format-disk"), &error)) << "it answered, with an error";
  EXPECT_TRUE(error.startsWith("Tolvane has no action named \"format-disk\". The actions are: start-recording, "))
      << error.toStdString();

  // Gone, it leaves the name to the next instance.
  service.reset();
  EXPECT_EQ(second.registerOn(QDBusConnection::connectToBus(address, QStringLiteral("second"))),
            ApplicationService::Registration::owned);
}

TEST_F(ApplicationServiceTest, ActivateAndExportedActionsRunAfterTheReply) {
  ASSERT_EQ(service->registerOnSessionBus(), ApplicationService::Registration::owned);
  const QString application = QStringLiteral("org.freedesktop.Application");
  EXPECT_EQ(call(application, QStringLiteral("Activate"), {QVariantMap{}}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(call(application, QStringLiteral("Open"), {QStringList{"file:///tmp/x"}, QVariantMap{}}).type(),
            QDBusMessage::ReplyMessage);
  EXPECT_TRUE(processEventsUntil([&] { return activations == 2; }));

  // Disabled now: answered, and nothing happens.
  EXPECT_EQ(activateAction(QStringLiteral("toggle-pause")).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(activateAction(QStringLiteral("show-local")).type(), QDBusMessage::ReplyMessage);
  EXPECT_TRUE(processEventsUntil([&] { return !host.calls.isEmpty(); }));
  EXPECT_EQ(host.calls, QStringList{"window:local"});
  EXPECT_EQ(model->recording().phase(), Phase::idle());

  const QDBusMessage unexported = activateAction(QStringLiteral("about"));
  EXPECT_EQ(unexported.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_TRUE(unexported.errorMessage().startsWith("The action \"about\" can't be run from another program."))
      << unexported.errorMessage().toStdString();
  EXPECT_EQ(activateAction(QStringLiteral("")).errorName(), "org.freedesktop.DBus.Error.InvalidArgs");

  EXPECT_EQ(activateAction(QStringLiteral("start-recording")).type(), QDBusMessage::ReplyMessage);
  waitForPhase(Phase::countdown(3));
  EXPECT_EQ(host.calls, QStringList{"window:local"}) << "the refused actions ran nothing";

  // GLib's own client, as desktops and scripts use it, agrees with the signatures.
  QProcess gapplication;
  gapplication.start(QStringLiteral("gapplication"), {QStringLiteral("action"), kName, QStringLiteral("show-record")});
  ASSERT_TRUE(processEventsUntil([&] { return gapplication.state() == QProcess::NotRunning; }));
  EXPECT_EQ(gapplication.exitCode(), 0) << gapplication.readAllStandardError().toStdString();
  EXPECT_TRUE(processEventsUntil([&] { return host.calls.contains("window:record"); }));
}

TEST_F(ApplicationServiceTest, TheStateIsReadableAndEachRealChangeIsAnnounced) {
  ASSERT_EQ(service->registerOnSessionBus(), ApplicationService::Registration::owned);
  // What a client reads first; later announcements must each change one of these.
  std::map<QString, QVariant> last{{"Phase", "idle"}, {"Elapsed", 0.0}, {"SignInPhase", "signedOut"},
                                   {"LastShareURL", QString()}, {"PendingUploads", 0u}};
  for (const auto& [name, value] : last) EXPECT_EQ(property(name), value) << name.toStdString();
  const QDBusMessage write = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                                  {QString::fromLatin1(ApplicationService::kStateInterface), QStringLiteral("Phase"),
                                   QVariant::fromValue(QDBusVariant(QStringLiteral("recording")))});
  EXPECT_EQ(write.type(), QDBusMessage::ErrorMessage) << "the state is read-only";

  // The model's own tasks (a vault scan, a failed sign-in) may announce alongside the
  // test's changes, so each step waits for its announcement wherever it falls.
  ChangeListener listener(client);
  const auto announced = [&](const QString& key, const QVariant& value) {
    return processEventsUntil([&] {
      return std::any_of(listener.received.begin(), listener.received.end(),
                         [&](const QVariantMap& change) { return change.contains(key) && change.value(key) == value; });
    });
  };
  model->account().signIn();
  EXPECT_TRUE(announced("SignInPhase", "waitingForBrowser"));
  model->account().cancelSignIn();
  EXPECT_TRUE(announced("SignInPhase", "signedOut"));
  model->library().setLastShareURL(QStringLiteral("https://tolvane.test/v/abc"));
  EXPECT_TRUE(announced("LastShareURL", "https://tolvane.test/v/abc"));

  activateAction(QStringLiteral("start-recording"));
  EXPECT_TRUE(announced("Phase", "countdown(3)"));
  EXPECT_EQ(property("LastShareURL"), QVariant(QString())) << "a new recording clears the last link";
  waitForPhase(Phase::countdown(3));
  clock->advance(1);
  EXPECT_TRUE(announced("Phase", "countdown(2)"));
  clock->advance(2);
  EXPECT_TRUE(announced("Phase", "recording"));

  // The model refreshes the elapsed time on every tick; the bus hears whole seconds only.
  ASSERT_TRUE(processEventsUntil([&] {
    clock->advance(0.1);
    return listener.received.back().value("Elapsed").toDouble() >= 2.5;
  }));
  model->recording().stopRecording();
  EXPECT_TRUE(announced("Phase", "finishing"));
  waitForPhase(Phase::idle());
  EXPECT_TRUE(announced("Phase", "idle"));
  EXPECT_EQ(property("Elapsed"), QVariant(0.0));

  // Each announcement carries only what changed: no property repeats the value it had.
  for (const auto& change : listener.received) {
    for (auto it = change.begin(); it != change.end(); ++it) {
      ASSERT_TRUE(last.count(it.key())) << it.key().toStdString();
      const QVariant value = it.key() == "Elapsed" ? QVariant(qlonglong(std::lround(it.value().toDouble()))) : it.value();
      const QVariant before = it.key() == "Elapsed" ? QVariant(qlonglong(last[it.key()].toLongLong())) : last[it.key()];
      EXPECT_NE(value, before) << it.key().toStdString() << " announced without a change";
      last[it.key()] = value;
    }
  }
}

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
  EXPECT_EQ(router.enabledActions().filter("recording"), QStringList{"stop-recording"});
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
    for (AppAction action : {AppAction::signIn, AppAction::signOut}) state += router.isEnabled(action) ? " +" : " -";
    seen << state + " " + QString::number(enabledChanged);
  });
  router.trigger(AppAction::signOut);  // signed out already: disabled
  EXPECT_TRUE(seen.isEmpty());

  router.trigger(AppAction::signIn);
  router.trigger(AppAction::cancelSignIn);  // unless the attempt has failed on its own already
  ASSERT_TRUE(processEventsUntil(
      [&] { return model->account().signInPhase() == AccountModel::SignInPhase::SignedOut; }));
  const auto waiting = QString::number(int(AccountModel::SignInPhase::WaitingForBrowser));
  const auto signedOut = QString::number(int(AccountModel::SignInPhase::SignedOut));
  EXPECT_EQ(seen, QStringList({waiting + " - - 1", signedOut + " + - 2"}));
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
  router.trigger(QStringLiteral("open-at-login"));
  EXPECT_TRUE(router.openAtLogin());
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "autostart/com.tolvanelabs.Tolvane.desktop"));
  router.trigger(AppAction::toggleOpenAtLogin);
  EXPECT_FALSE(router.openAtLogin());
  EXPECT_EQ(changed, 2);
}

TEST(AutostartEntryTest, WritesOneWholeEntryRemovesItAndFailsCleanlyWhereNothingCanBeWritten) {
  testing::TempDir home;
  AutostartEntry entry(QString::fromStdString(home.path().string()));
  const auto file = home / "autostart/com.tolvanelabs.Tolvane.desktop";
  EXPECT_TRUE(entry.setEnabled(false)) << "removing an absent entry is no failure";
  ASSERT_TRUE(entry.setEnabled(true));  // the autostart folder is made on the way
  EXPECT_TRUE(entry.isEnabled());
  const std::string text = testing::readFile(file);
  for (const char* line : {"[Desktop Entry]\n", "\nExec=tolvane\n", "\nX-GNOME-Autostart-enabled=true\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  ASSERT_TRUE(entry.setEnabled(true));  // again: still one whole entry, no temporary file beside it
  EXPECT_EQ(testing::readFile(file), text);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home / "autostart"), {}), 1);
  EXPECT_TRUE(entry.setEnabled(false));
  EXPECT_FALSE(std::filesystem::exists(file));

  {
    testing::ScopedEnv config("XDG_CONFIG_HOME", (home / "cfg").c_str());
    EXPECT_EQ(AutostartEntry().path().toStdString(), (home / "cfg/autostart/com.tolvanelabs.Tolvane.desktop").string());
    // A relative value is not a base directory; the home folder's .config is.
    testing::ScopedEnv relative("XDG_CONFIG_HOME", "relative/cfg");
    testing::ScopedEnv user("HOME", home.path().c_str());
    EXPECT_EQ(AutostartEntry().path().toStdString(), (home / ".config/autostart/com.tolvanelabs.Tolvane.desktop").string());
  }
  // The config folder is a file: nothing can be made under it.
  testing::writeFile(home / "blocked", "not a folder");
  AutostartEntry blocked(QString::fromStdString((home / "blocked").string()));
  EXPECT_FALSE(blocked.setEnabled(true));
  EXPECT_FALSE(blocked.isEnabled());
}

}  // namespace
}  // namespace tolvane

#include "application_service_test.moc"
