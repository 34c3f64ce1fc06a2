#pragma once

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "kit/auth/auth_session.h"
#include "kit/auth/session_storage.h"
#include "kit/config/url.h"
#include "kit/net/http_performing.h"

namespace tolvane {

// Keeps the signed-in session (in its storage, the single source of truth: the store
// holds no copy), hands out access tokens valid for at least five more minutes, and
// refreshes them at the authentication backend's token endpoint.
//
// Thread-safe. Any number of threads asking for a token while a refresh runs wait for
// that one refresh and all get its result: at most one token request is in flight.
class AuthStore {
 public:
  using ChangeHandler = std::function<void(const std::optional<AuthSession>&)>;
  using Now = std::function<Date()>;

  // `backendURL` is the address of the authentication backend's API (Config::authURL),
  // `anonKey` its public key (sent as "apikey"). `now` is the clock used for expiries.
  AuthStore(std::shared_ptr<SessionStorage> storage, std::shared_ptr<HTTPPerforming> http, Url backendURL,
            std::string anonKey, Now now = [] { return std::chrono::system_clock::now(); });

  std::optional<AuthSession> session() const { return storage_->load(); }
  std::optional<std::string> email() const;
  bool isSignedIn() const { return session().has_value(); }

  // Told about every session change (sign-in, refresh, sign-out), on the thread that
  // made the change. Replaces any previous handler.
  void setOnChange(ChangeHandler handler);

  // Stores a session from sign-in and reports it.
  void adopt(const AuthSession& session);
  // Cancels a running refresh, removes the stored session and reports none, even when
  // nobody was signed in.
  void signOut();

  // The stored access token when it is valid for more than 300 more seconds, otherwise
  // a refreshed one (taken from another caller's refresh when one ran meanwhile: the
  // backend rotates refresh tokens, so a second refresh right after would be wasted).
  // Throws AuthError::notSignedIn without a session, and whatever
  // forceRefresh throws.
  std::string validAccessToken(std::stop_token stop = {});

  // Exchanges the refresh token for a new access token, or joins the exchange already
  // running. Throws AuthError::notSignedIn without a session; AuthError::refreshFailed
  // ("your session expired, please sign in again") when the backend refuses the refresh
  // token with 400 or 401, which also signs the user out; AuthError::refreshFailed
  // ("network error (<status>)") for any other answer; TransportError when the backend
  // cannot be reached; CancellationError when signOut interrupts the refresh or when
  // `stop` fires while waiting for another caller's refresh.
  std::string forceRefresh(std::stop_token stop = {});

 private:
  struct Refresh {
    std::shared_future<std::string> result;
    std::stop_source stop;
  };

  std::string refresh(const std::optional<std::string>& staleAccessToken, std::stop_token stop);
  std::string runRefreshRequest(const AuthSession& session, std::stop_token stop);
  void notify(const std::optional<AuthSession>& session);

  std::shared_ptr<SessionStorage> storage_;
  std::shared_ptr<HTTPPerforming> http_;
  Url backendURL_;
  std::string anonKey_;
  Now now_;

  mutable std::mutex mutex_;
  std::shared_ptr<Refresh> inFlightRefresh_;  // guarded by mutex_
  ChangeHandler onChange_;                    // guarded by mutex_
};

}  // namespace tolvane
