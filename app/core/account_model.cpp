#include "app/core/account_model.h"

#include <QPointer>
#include <QUrl>

#include <qcorofuture.h>

#include "app/core/change.h"
#include "app/core/desktop_opener.h"
#include "app/core/off_thread.h"
#include "app/services/app_services.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const Logger& appLog() {
  static const Logger log("app");
  return log;
}

QVariantMap accountMap(const AccountInfo& info) {
  return {{QStringLiteral("email"), info.email ? QString::fromStdString(*info.email) : QString()},
          {QStringLiteral("pro"), info.pro},
          {QStringLiteral("lifetime"), info.lifetime},
          {QStringLiteral("admin"), info.admin}};
}

}  // namespace

AccountModel::AccountModel(AppServices& services, DesktopOpener& opener, std::function<QString()> deviceName,
                           QObject* parent)
    : QObject(parent), services_(services), opener_(opener), deviceName_(std::move(deviceName)) {}

AccountModel::~AccountModel() { signInStop_.request_stop(); }

void AccountModel::signIn() {
  setSignInError({});
  signInStop_.request_stop();
  signInStop_ = std::stop_source();
  const quint64 attempt = ++attempt_;
  setPhase(SignInPhase::WaitingForBrowser);
  runSignIn(attempt, signInStop_.get_token());
}

void AccountModel::cancelSignIn() {
  signInStop_.request_stop();
  ++attempt_;
  setPhase(SignInPhase::SignedOut);
}

QCoro::Task<> AccountModel::runSignIn(quint64 attempt, std::stop_token stop) {
  QPointer<AccountModel> self(this);
  const auto http = services_.http();
  const Url site = services_.siteURL();
  const auto auth = services_.auth();

  auto naming = offThread([makeName = deviceName_] { return makeName(); });
  const auto name = co_await naming;
  if (!self || !isCurrent(attempt)) co_return;
  auto registering = offThread([http, site, name = name.value.value_or(QStringLiteral("Linux")), stop] {
    return DesktopSignIn(http, site).start(name.toStdString(), stop);
  });
  const auto request = co_await registering;
  if (!self || !isCurrent(attempt)) co_return;
  if (!request.ok()) {
    co_await endFailedSignIn(attempt, request.cancelled, request.error);
    co_return;
  }
  opener_.openURL(QUrl(QString::fromStdString(request.value->connectURL)));

  auto approving = offThread(
      [http, site, request = *request.value, stop] { return DesktopSignIn(http, site).waitForApproval(request, stop); });
  const auto session = co_await approving;
  if (!self || !isCurrent(attempt)) co_return;
  if (!session.ok()) {
    co_await endFailedSignIn(attempt, session.cancelled, session.error);
    co_return;
  }

  auto adopting = offThread([auth, session = *session.value] { auth->adopt(session); });
  const auto adopted = co_await adopting;
  if (!self || !isCurrent(attempt)) co_return;
  if (!adopted.ok()) {
    co_await endFailedSignIn(attempt, adopted.cancelled, adopted.error);
    co_return;
  }
  setPhase(SignInPhase::SignedIn);
  setEmail(session.value->email ? QString::fromStdString(*session.value->email) : QString());

  co_await refreshAccount();
  if (!self || !isCurrent(attempt)) co_return;
  services_.uploadQueue()->kick(UploadQueue::Trigger::auth);
  emit signedIn();
}

QCoro::Task<> AccountModel::endFailedSignIn(quint64 attempt, bool cancelled, std::string error) {
  if (!cancelled) {
    setPhase(SignInPhase::SignedOut);
    setSignInError(QString::fromStdString(error));
    co_return;
  }
  // Cancelled from elsewhere than cancelSignIn (which already ended this attempt): the
  // phase is whatever the stored session says, and there is nothing to tell the user.
  QPointer<AccountModel> self(this);
  const auto auth = services_.auth();
  auto checkingStored = offThread([auth] { return auth->isSignedIn(); });
  const auto stored = co_await checkingStored;
  if (!self || !isCurrent(attempt)) co_return;
  setPhase(stored.value.value_or(false) ? SignInPhase::SignedIn : SignInPhase::SignedOut);
}

QCoro::Task<> AccountModel::restoreSession() {
  QPointer<AccountModel> self(this);
  const auto auth = services_.auth();
  auto readingStored = offThread([auth] { return auth->session(); });
  const auto stored = co_await readingStored;
  if (!self || !stored.ok() || !*stored.value) co_return;
  setPhase(SignInPhase::SignedIn);
  const auto& session = **stored.value;
  setEmail(session.email ? QString::fromStdString(*session.email) : QString());
  co_await refreshAccount();
}

QCoro::Task<> AccountModel::refreshAccount() {
  QPointer<AccountModel> self(this);
  const auto api = services_.api();
  auto loadingAccount = offThread([api] { return api->me(); });
  const auto info = co_await loadingAccount;
  // Signed out meanwhile: the account that came back is no one's any more.
  if (!self || phase_ != SignInPhase::SignedIn) co_return;
  if (!info.ok()) {
    appLog().error("couldn't load account: {}", info.error);
    co_return;
  }
  if (assignChanged(account_, accountMap(*info.value))) emit accountChanged();
  // An account without an e-mail leaves the one the session gave.
  if (info.value->email) setEmail(QString::fromStdString(*info.value->email));
}

void AccountModel::refresh() {
  if (phase_ == SignInPhase::SignedIn) refreshAccount();
}

void AccountModel::signOut() { finishSignOut(); }

QCoro::Task<> AccountModel::finishSignOut() {
  QPointer<AccountModel> self(this);
  const auto auth = services_.auth();
  auto signingOut = offThread([auth] { auth->signOut(); });
  co_await signingOut;
  if (!self) co_return;
  setPhase(SignInPhase::SignedOut);
  clearAccount();
  emit signedOut();
}

void AccountModel::sessionChanged(const std::optional<AuthSession>& session) {
  if (session || phase_ != SignInPhase::SignedIn) return;
  setPhase(SignInPhase::SignedOut);
  clearAccount();
  emit signedOut();
}

void AccountModel::clearAccount() {
  if (assignChanged(account_, QVariantMap())) emit accountChanged();
  setEmail({});
}

void AccountModel::setPhase(SignInPhase phase) {
  if (assignChanged(phase_, phase)) emit signInPhaseChanged();
}

void AccountModel::setEmail(const QString& email) {
  if (assignChanged(email_, email)) emit emailChanged();
}

void AccountModel::setSignInError(const QString& error) {
  if (assignChanged(signInError_, error)) emit signInErrorChanged();
}

}  // namespace tolvane
