#pragma once

#include <cstdint>
#include <exception>
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

// Keeps the signed-in session, hands out access tokens valid for at least five more
// minutes, and refreshes them at the authentication backend's token endpoint.
//
// The storage (the keyring) is read once, on first use, and written on every change;
// the store answers from memory after that, since each keyring call is a D-Bus round
// trip. Other processes may share the stored item (the desktop application and the
// CLI): a refresh refused because another process already rotated the refresh token
// takes up that process's newer session instead of signing out.
//
// Thread-safe. Any number of threads asking for a token while a refresh runs wait for
// that one refresh and all get its result: at most one token request is in flight.
// Every change (sign-in, refresh, sign-out) counts as a new generation of the session;
// a refresh whose answer lands after another change is discarded.
class AuthStore {
 public:
  using ChangeHandler = std::function<void(const std::optional<AuthSession>&)>;
  using Now = std::function<Date()>;

  // `backendURL` is the address of the authentication backend's API (Config::authURL),
  // `anonKey` its public key (sent as "apikey"). `now` is the clock used for expiries.
  AuthStore(std::shared_ptr<SessionStorage> storage, std::shared_ptr<HTTPPerforming> http, Url backendURL,
            std::string anonKey, Now now = [] { return std::chrono::system_clock::now(); });

  std::optional<AuthSession> session() const;
  std::optional<std::string> email() const;
  bool isSignedIn() const { return session().has_value(); }

  // Told about every session change (sign-in, refresh, sign-out), on the thread that
  // made the change, in the order of the changes. Replaces any previous handler. The
  // handler must not sign in or out itself.
  void setOnChange(ChangeHandler handler);

  // Stores a session from sign-in and reports it. A running refresh is stopped; its
  // callers get the new session's access token.
  void adopt(const AuthSession& session);
  // Cancels a running refresh, removes the stored session and reports none, even when
  // nobody was signed in.
  void signOut();
  // Asks the backend to end this sign-in (its refresh token and every one rotated from
  // it), then signs out here like signOut(). Best effort: when the backend cannot be
  // reached the sign-out here still happens, and the tokens expire on their own.
  void signOutEverywhere(std::stop_token stop = {});

  // The stored access token when it is valid for more than 300 more seconds, otherwise
  // a refreshed one (taken from another caller's refresh when one ran meanwhile: the
  // backend rotates refresh tokens, so a second refresh right after would be wasted).
  // Throws AuthError::notSignedIn without a session, and whatever
  // forceRefresh throws.
  std::string validAccessToken(std::stop_token stop = {});

  // Exchanges the refresh token for a new access token, or joins the exchange already
  // running. Throws AuthError::notSignedIn without a session; AuthError::refreshFailed
  // ("your session expired, please sign in again") when the backend refuses the refresh
  // token with 400 or 401, which also signs the user out (unless the stored session
  // changed meanwhile); AuthError::refreshFailed
  // ("network error (<status>)") for any other answer; TransportError when the backend
  // cannot be reached; CancellationError when signOut interrupts the refresh or when
  // `stop` fires while waiting for another caller's refresh.
  std::string forceRefresh(std::stop_token stop = {});

 private:
  // One refresh and its outcome, shared by every caller that waits for it. `token` and
  // `rethrow` are set before `done` is.
  struct Refresh {
    std::shared_future<void> done;
    std::string token;
    // Throws a new copy of the failure: each waiter gets an exception object of its own,
    // since copies of one std::runtime_error share a message whose reference count
    // ThreadSanitizer cannot see (libstdc++ is not instrumented).
    std::function<void()> rethrow;
    std::stop_source stop;
  };
  static std::function<void()> rethrowerFor(const std::exception_ptr& failure);

  const std::optional<AuthSession>& currentLocked() const;
  std::string refresh(const std::optional<std::string>& staleAccessToken, std::stop_token stop);
  std::string exchange(const AuthSession& sent, std::uint64_t generation, std::stop_token stop, bool mayRetry);
  // Makes `session` the current one and reports it, when the session is still at
  // `generation` (none: any, and a running refresh is stopped). The new generation, or
  // none when another change came first.
  std::optional<std::uint64_t> replace(std::optional<std::uint64_t> generation,
                                       const std::optional<AuthSession>& session, bool store = true);
  // What a refresh overtaken by another change answers: the new session's token.
  std::string supersededResult() const;

  std::shared_ptr<SessionStorage> storage_;
  std::shared_ptr<HTTPPerforming> http_;
  Url backendURL_;
  std::string anonKey_;
  Now now_;

  mutable std::mutex mutex_;
  mutable bool loaded_ = false;                // guarded by mutex_
  mutable std::optional<AuthSession> session_;  // guarded by mutex_
  std::uint64_t generation_ = 0;               // guarded by mutex_; counts changes
  std::shared_ptr<Refresh> inFlightRefresh_;   // guarded by mutex_
  ChangeHandler onChange_;                     // guarded by mutex_
  // Held while a change is written and reported, so that the storage and the handler
  // see the changes in the order they were made.
  std::mutex publishMutex_;
};

}  // namespace tolvane
