#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include <qcorotask.h>

#include "kit/auth/auth_session.h"

namespace tolvane {

class AppServices;
class DesktopOpener;

// Who is signed in, and the browser sign-in that gets there: the request is registered
// with the site, its page opens in the default browser, and the session arrives once
// the user approves it there. Every network and keyring call runs off the GUI thread.
class AccountModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(SignInPhase signInPhase READ signInPhase NOTIFY signInPhaseChanged)
  Q_PROPERTY(QVariantMap account READ account NOTIFY accountChanged)
  Q_PROPERTY(QString email READ email NOTIFY emailChanged)
  Q_PROPERTY(QString signInError READ signInError NOTIFY signInErrorChanged)

 public:
  enum class SignInPhase { SignedOut, WaitingForBrowser, SignedIn };
  Q_ENUM(SignInPhase)

  // `deviceName` (the name shown on the approval page) is called off the GUI thread.
  AccountModel(AppServices& services, DesktopOpener& opener, std::function<QString()> deviceName,
               QObject* parent = nullptr);
  ~AccountModel() override;

  SignInPhase signInPhase() const { return phase_; }
  // {email, pro, lifetime, admin}; empty while the account is unknown.
  QVariantMap account() const { return account_; }
  QString email() const { return email_; }
  QString signInError() const { return signInError_; }

  // Starts a new sign-in, ending any running one.
  Q_INVOKABLE void signIn();
  // Ends the running sign-in; nothing it was doing lands afterwards.
  Q_INVOKABLE void cancelSignIn();
  Q_INVOKABLE void signOut();

  // Asks the service for the signed-in user's account again (the plan may have changed
  // on the web). Signed out it does nothing; a failure keeps what is shown.
  Q_INVOKABLE void refresh();
  // At launch: takes up the stored session, if any, and loads its account.
  QCoro::Task<> restoreSession();
  // The stored session ended without the user signing out (the backend refused its
  // refresh): the views show the signed-out state.
  void sessionChanged(const std::optional<AuthSession>& session);

 signals:
  void signInPhaseChanged();
  void accountChanged();
  void emailChanged();
  void signInErrorChanged();
  // A sign-in completed: the library and the uploads can go on as this user.
  void signedIn();
  // Signed out, by the user or because the session ended: the web library must go.
  void signedOut();

 private:
  QCoro::Task<> runSignIn(quint64 attempt, std::stop_token stop);
  QCoro::Task<> endFailedSignIn(quint64 attempt, bool cancelled, std::string error);
  QCoro::Task<> finishSignOut();
  QCoro::Task<> refreshAccount();
  bool isCurrent(quint64 attempt) const { return attempt == attempt_; }
  void setPhase(SignInPhase phase);
  void setEmail(const QString& email);
  void setSignInError(const QString& error);
  void clearAccount();

  AppServices& services_;
  DesktopOpener& opener_;
  std::function<QString()> deviceName_;
  SignInPhase phase_ = SignInPhase::SignedOut;
  QVariantMap account_;
  QString email_;
  QString signInError_;
  // The running sign-in: its number (a task whose number is no longer current ends
  // silently) and the stop that interrupts its blocking calls.
  quint64 attempt_ = 0;
  std::stop_source signInStop_;
};

}  // namespace tolvane
