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

#include "app/shell/action_router.h"
#include "app/shell/autostart_entry.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/shell/shell_model_fixture.h"
#include "tests/app/desktop_test_env.h"

// Failure messages show the values, not bytes.
inline void PrintTo(const QVariant& value, std::ostream* out) { *out << value.toString().toStdString(); }
inline void PrintTo(const QVariantMap& map, std::ostream* out) {
  for (auto it = map.begin(); it != map.end(); ++it) {
    *out << it.key().toStdString() << '=' << it.value().toString().toStdString() << ' ';
  }
}

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
// so every test of the suite shares it. Stopped by PID when the suite ends.
class ApplicationServiceTest : public testing::ShellModelFixture {
 protected:
  static void SetUpTestSuite() {
    testing::application();
    busDir = std::make_unique<testing::TempDir>();
    daemon = std::make_unique<testing::PrivateBus>(busDir->path());
    address = daemon->qAddress();
    busEnv = std::make_unique<testing::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address.toUtf8().constData());
  }
  static void TearDownTestSuite() {
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
    daemon.reset();
    busEnv.reset();
    busDir.reset();
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

  static inline std::unique_ptr<testing::TempDir> busDir;
  static inline std::unique_ptr<testing::PrivateBus> daemon;
  static inline std::unique_ptr<testing::ScopedEnv> busEnv;
  static inline QString address;

  QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
  testing::TempDir config;
  AutostartEntry autostart{QString::fromStdString(config.path().string())};
  testing::FakeHost host;
  ActionRouter router{*model, host, autostart};
  int activations = 0;
  std::unique_ptr<ApplicationService> service =
      std::make_unique<ApplicationService>(*model, router, [this] { ++activations; });
};

TEST_F(ApplicationServiceTest, OneInstanceOwnsTheNameAndALaterLaunchForwardsToIt) {
  QString error;
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
  EXPECT_EQ(error.toStdString(),
            "Tolvane has no action named \"format-disk\". The actions are: start-recording, stop-recording, "
            "toggle-pause, toggle-drawing, show-record, show-library, show-local, check-for-updates, sign-in, "
            "sign-out, quit.");

  // Gone, it leaves the name to the next instance.
  service.reset();
  EXPECT_EQ(second.registerOn(QDBusConnection::connectToBus(address, QStringLiteral("second"))),
            ApplicationService::Registration::owned);
}

TEST_F(ApplicationServiceTest, WithoutABusTheApplicationRunsAlone) {
  const QDBusConnection none = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=") + QString::fromStdString((config / "no-bus").string()), QStringLiteral("none"));
  EXPECT_EQ(service->registerOn(none), ApplicationService::Registration::noBus);
  QString error;
  EXPECT_FALSE(ApplicationService::forwardToRunningInstance(none, QStringLiteral("start-recording"), &error));
  EXPECT_TRUE(error.isEmpty());
  QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

TEST_F(ApplicationServiceTest, ActivateAndExportedActionsRunAfterTheReply) {
  ASSERT_EQ(service->registerOnSessionBus(), ApplicationService::Registration::owned);
  EXPECT_EQ(call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"), {QVariantMap{}}).type(),
            QDBusMessage::ReplyMessage);
  EXPECT_EQ(call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("Open"),
                 {QStringList{"file:///tmp/x"}, QVariantMap{}})
                .type(),
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
  const QDBusMessage unknown = activateAction(QStringLiteral(""));
  EXPECT_EQ(unknown.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");

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
  EXPECT_EQ(property("Phase"), QVariant(QStringLiteral("idle")));
  EXPECT_EQ(property("SignInPhase"), QVariant(QStringLiteral("signedOut")));
  EXPECT_EQ(property("LastShareURL"), QVariant(QString()));
  EXPECT_EQ(property("Elapsed"), QVariant(0.0));
  EXPECT_EQ(property("PendingUploads"), QVariant::fromValue(0u));
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
  EXPECT_EQ(property("Phase"), QVariant(QStringLiteral("countdown(2)")));
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
  std::map<QString, QVariant> last{{"Phase", "idle"}, {"Elapsed", 0}, {"SignInPhase", "signedOut"},
                                   {"LastShareURL", ""}, {"PendingUploads", 0u}};
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

}  // namespace
}  // namespace tolvane

#include "application_service_test.moc"
