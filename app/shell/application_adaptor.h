#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace tolvane {

class ApplicationService;

// org.freedesktop.Application, as desktops, launchers and `gapplication` call it: the
// calls only reach the service, which answers at once and acts afterwards.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  explicit ApplicationAdaptor(ApplicationService* service);

 public slots:
  void Activate(const QVariantMap& platform_data);
  // Tolvane opens no files: opening is activating.
  void Open(const QStringList& uris, const QVariantMap& platform_data);
  // Our actions take no parameter; one given is ignored. (`message` is the call itself,
  // for the error reply; it is not part of the D-Bus signature.)
  void ActivateAction(const QString& action_name, const QVariantList& parameter, const QVariantMap& platform_data,
                      const QDBusMessage& message);

 private:
  ApplicationService* service_;
};

}  // namespace tolvane
