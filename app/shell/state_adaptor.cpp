#include "app/shell/state_adaptor.h"

#include "app/shell/application_service.h"

namespace tolvane {

StateAdaptor::StateAdaptor(ApplicationService* service) : QDBusAbstractAdaptor(service), service_(service) {}

QString StateAdaptor::phase() const { return service_->phase(); }
double StateAdaptor::elapsed() const { return service_->elapsed(); }
QString StateAdaptor::signInPhase() const { return service_->signInPhase(); }
QString StateAdaptor::lastShareURL() const { return service_->lastShareURL(); }
uint StateAdaptor::pendingUploads() const { return service_->pendingUploads(); }

}  // namespace tolvane
