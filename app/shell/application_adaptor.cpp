#include "app/shell/application_adaptor.h"

#include <QDBusError>

#include "app/shell/application_service.h"

namespace tolvane {

ApplicationAdaptor::ApplicationAdaptor(ApplicationService* service) : QDBusAbstractAdaptor(service), service_(service) {}

void ApplicationAdaptor::Activate(const QVariantMap&) { service_->activate(); }

void ApplicationAdaptor::Open(const QStringList&, const QVariantMap&) { service_->activate(); }

void ApplicationAdaptor::ActivateAction(const QString& action_name, const QVariantList&, const QVariantMap&,
                                        const QDBusMessage& message) {
  QString error;
  if (service_->activateAction(action_name, &error)) return;
  // The error replaces the empty reply QtDBus would send on return.
  message.setDelayedReply(true);
  service_->send(message.createErrorReply(QDBusError::InvalidArgs, error));
}

}  // namespace tolvane
