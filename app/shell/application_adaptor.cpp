#include "app/shell/application_adaptor.h"

#include <QDBusError>

#include "app/shell/application_service.h"

namespace tolvane {

namespace {

// The launch id a launcher passes with the call (GLib's and KDE's launchers do).
QByteArray startupIdOf(const QVariantMap& platformData) {
  return platformData.value(QStringLiteral("desktop-startup-id")).toString().toUtf8();
}

}  // namespace

ApplicationAdaptor::ApplicationAdaptor(ApplicationService* service) : QDBusAbstractAdaptor(service), service_(service) {}

void ApplicationAdaptor::Activate(const QVariantMap& platform_data) { service_->activate(startupIdOf(platform_data)); }

void ApplicationAdaptor::Open(const QStringList&, const QVariantMap& platform_data) {
  service_->activate(startupIdOf(platform_data));
}

void ApplicationAdaptor::ActivateAction(const QString& action_name, const QVariantList&,
                                        const QVariantMap& platform_data, const QDBusMessage& message) {
  QString error;
  if (service_->activateAction(action_name, &error, startupIdOf(platform_data))) return;
  // The error replaces the empty reply QtDBus would send on return.
  message.setDelayedReply(true);
  service_->send(message.createErrorReply(QDBusError::InvalidArgs, error));
}

}  // namespace tolvane
