#include "app/shell/application_service.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

#include "app/core/app_model.h"
#include "app/shell/action_router.h"
#include "app/shell/app_action.h"
#include "app/shell/application_adaptor.h"
#include "app/shell/state_adaptor.h"
#include "kit/base/application_id.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"bus"};
  return logger;
}

QString serviceName() { return QString::fromLatin1(kApplicationID.data(), static_cast<qsizetype>(kApplicationID.size())); }

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");

QString signInPhaseName(AccountModel::SignInPhase phase) {
  switch (phase) {
    case AccountModel::SignInPhase::SignedOut:
      return QStringLiteral("signedOut");
    case AccountModel::SignInPhase::WaitingForBrowser:
      return QStringLiteral("waitingForBrowser");
    case AccountModel::SignInPhase::SignedIn:
      return QStringLiteral("signedIn");
  }
  return {};
}

// What a launcher passes on so the running instance may raise its window despite focus
// stealing prevention.
QVariantMap platformData() {
  QVariantMap data;
  const QByteArray startupID = qgetenv("DESKTOP_STARTUP_ID");
  if (!startupID.isEmpty()) data.insert(QStringLiteral("desktop-startup-id"), QString::fromUtf8(startupID));
  const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
  if (!token.isEmpty()) data.insert(QStringLiteral("activation-token"), QString::fromUtf8(token));
  return data;
}

}  // namespace

ApplicationService::ApplicationService(AppModel& model, ActionRouter& actions, std::function<void()> activate,
                                       QObject* parent)
    : QObject(parent), model_(model), actions_(&actions), activate_(std::move(activate)) {
  // The adaptors are children: registerObject(ExportAdaptors) publishes them.
  new ApplicationAdaptor(this);
  new StateAdaptor(this);
  RecordingController& recording = model_.recording();
  connect(&recording, &RecordingController::phaseChanged, this, &ApplicationService::announceChanges);
  connect(&recording, &RecordingController::elapsedChanged, this, &ApplicationService::announceChanges);
  connect(&model_.account(), &AccountModel::signInPhaseChanged, this, &ApplicationService::announceChanges);
  connect(&model_.library(), &LibraryModel::lastShareURLChanged, this, &ApplicationService::announceChanges);
  connect(&model_.library(), &LibraryModel::pendingUploadCountChanged, this, &ApplicationService::announceChanges);
}

ApplicationService::~ApplicationService() {
  if (!bus_) return;
  bus_->unregisterService(serviceName());
  bus_->unregisterObject(QString::fromLatin1(kObjectPath));
}

ApplicationService::Registration ApplicationService::registerOnSessionBus() {
  return registerOn(QDBusConnection::sessionBus());
}

ApplicationService::Registration ApplicationService::registerOn(QDBusConnection bus) {
  if (!bus.isConnected()) {
    log().warning("no D-Bus session bus ({}); running without the single-instance check and the D-Bus actions",
                  bus.lastError().message().toStdString());
    return Registration::noBus;
  }
  const QString path = QString::fromLatin1(kObjectPath);
  if (!bus.registerObject(path, this, QDBusConnection::ExportAdaptors)) {
    log().error("could not export {} on the session bus; running without the D-Bus actions", kObjectPath);
    return Registration::noBus;
  }
  // Without queueing or replacement: a second Tolvane learns at once that it is second.
  if (!bus.registerService(serviceName())) {
    bus.unregisterObject(path);
    log().info("{} is owned by another process: Tolvane is already running", kApplicationID);
    return Registration::heldByAnother;
  }
  bus_ = bus;
  announced_ = current();
  log().info("owning {} on the session bus", kApplicationID);
  return Registration::owned;
}

bool ApplicationService::forwardToRunningInstance(const std::optional<QString>& action, QString* error) {
  return forwardToRunningInstance(QDBusConnection::sessionBus(), action, error);
}

bool ApplicationService::forwardToRunningInstance(QDBusConnection bus, const std::optional<QString>& action,
                                                  QString* error) {
  if (!bus.isConnected()) return false;
  // Asked of the bus directly (not through QDBusConnectionInterface) so that any thread
  // may forward.
  QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
  ask << serviceName();
  const QDBusReply<bool> owned = bus.call(ask, QDBus::Block, kForwardTimeoutMs);
  if (!owned.isValid() || !owned.value()) return false;

  const QString path = QString::fromLatin1(kObjectPath);
  QDBusMessage call;
  if (action) {
    call = QDBusMessage::createMethodCall(serviceName(), path, kApplicationInterface, QStringLiteral("ActivateAction"));
    call << *action << QVariantList{} << platformData();
  } else {
    call = QDBusMessage::createMethodCall(serviceName(), path, kApplicationInterface, QStringLiteral("Activate"));
    call << platformData();
  }
  // The name is owned, so nothing is to be started for it; had its owner just quit, the
  // bus must not start another Tolvane behind this launch's back.
  call.setAutoStartService(false);
  const QDBusMessage reply = bus.call(call, QDBus::Block, kForwardTimeoutMs);
  if (reply.type() != QDBusMessage::ErrorMessage) return true;

  const QDBusError failure(reply);
  switch (failure.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
      return false;  // it quit in between: this launch becomes the instance
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
      if (error) {
        *error = QStringLiteral("Tolvane is running but did not answer within %1 seconds.").arg(kForwardTimeoutMs / 1000);
      }
      return false;
    default:
      if (error) *error = failure.message();
      return true;
  }
}

QString ApplicationService::phase() const { return QString::fromStdString(model_.recording().phase().text()); }

double ApplicationService::elapsed() const { return model_.recording().elapsed(); }

QString ApplicationService::signInPhase() const { return signInPhaseName(model_.account().signInPhase()); }

QString ApplicationService::lastShareURL() const { return model_.library().lastShareURL(); }

uint ApplicationService::pendingUploads() const {
  return static_cast<uint>(std::max(0, model_.library().pendingUploadCount()));
}

void ApplicationService::activate(const QByteArray& startupId) {
  log().info("activated over D-Bus");
  // After the reply: the caller never waits on a window being built.
  QMetaObject::invokeMethod(
      this,
      [this, startupId] {
        if (activate_) activate_();
        if (launchDone_ && !startupId.isEmpty()) launchDone_(startupId);
      },
      Qt::QueuedConnection);
}

bool ApplicationService::activateAction(const QString& name, QString* error, const QByteArray& startupId) {
  const auto action = appActionFromName(name);
  if (!action || !isExportedAction(*action)) {
    const QString known = exportedActionNames().join(QStringLiteral(", "));
    *error = action ? QStringLiteral("The action \"%1\" can't be run from another program. The actions are: %2.")
                          .arg(name, known)
                    : QStringLiteral("Tolvane has no action named \"%1\". The actions are: %2.").arg(name, known);
    log().warning("D-Bus asked for the action \"{}\", refused", name.toStdString());
    return false;
  }
  log().info("D-Bus asked for the action {}", name.toStdString());
  // After the reply: an action may open a dialog or quit, and the caller should have its
  // answer first.
  QMetaObject::invokeMethod(
      this,
      [this, chosen = *action, startupId] {
        if (run_) {
          run_(chosen);
        } else if (actions_) {
          actions_->trigger(chosen);
        }
        if (launchDone_ && !startupId.isEmpty()) launchDone_(startupId);
      },
      Qt::QueuedConnection);
  return true;
}

bool ApplicationService::send(const QDBusMessage& message) const { return bus_ && bus_->send(message); }

ApplicationService::Announced ApplicationService::current() const {
  return {phase(), std::lround(elapsed()), signInPhase(), lastShareURL(), pendingUploads()};
}

// The model refreshes the elapsed time ten times a second; listeners show whole seconds
// (rounded, as the tray's clock does), so Elapsed is announced only when that figure
// changes: one signal a second instead of ten, and none while paused.
void ApplicationService::announceChanges() {
  if (!bus_) return;
  const Announced now = current();
  QVariantMap changed;
  if (now.phase != announced_.phase) changed.insert(QStringLiteral("Phase"), now.phase);
  if (now.elapsedSeconds != announced_.elapsedSeconds) changed.insert(QStringLiteral("Elapsed"), elapsed());
  if (now.signInPhase != announced_.signInPhase) changed.insert(QStringLiteral("SignInPhase"), now.signInPhase);
  if (now.lastShareURL != announced_.lastShareURL) changed.insert(QStringLiteral("LastShareURL"), now.lastShareURL);
  if (now.pendingUploads != announced_.pendingUploads) {
    changed.insert(QStringLiteral("PendingUploads"), QVariant::fromValue(now.pendingUploads));
  }
  announced_ = now;
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                   QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kStateInterface) << changed << QStringList();
  send(signal);
}

}  // namespace tolvane
