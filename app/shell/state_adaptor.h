#pragma once

#include <QDBusAbstractAdaptor>
#include <QString>

namespace tolvane {

class ApplicationService;

// com.tolvanelabs.Tolvane.State: the recording's state, read-only, for panels, scripts
// and tests. The service announces changes with org.freedesktop.DBus.Properties.
class StateAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.tolvanelabs.Tolvane.State")
  // "idle", "countdown(3)", "recording", "paused" or "finishing".
  Q_PROPERTY(QString Phase READ phase)
  // Seconds recorded so far, paused time excluded; 0 when nothing records.
  Q_PROPERTY(double Elapsed READ elapsed)
  // "signedOut", "waitingForBrowser" or "signedIn".
  Q_PROPERTY(QString SignInPhase READ signInPhase)
  // The share link of the last recording; empty when there is none.
  Q_PROPERTY(QString LastShareURL READ lastShareURL)
  // Recordings still waiting to be uploaded.
  Q_PROPERTY(uint PendingUploads READ pendingUploads)

 public:
  explicit StateAdaptor(ApplicationService* service);

  QString phase() const;
  double elapsed() const;
  QString signInPhase() const;
  QString lastShareURL() const;
  uint pendingUploads() const;

 private:
  ApplicationService* service_;
};

}  // namespace tolvane
