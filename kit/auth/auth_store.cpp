#include "kit/auth/auth_store.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_error.h"
#include "kit/base/errors.h"
#include "kit/base/log.h"
#include "kit/net/json_fields.h"
#include "kit/net/transport_error.h"

namespace tolvane {
namespace {

constexpr double kFreshnessMarginSec = 300;
constexpr std::int64_t kDefaultLifetimeSec = 3600;

struct TokenResponse {
  std::string accessToken;
  std::optional<std::string> refreshToken;
  std::optional<std::int64_t> expiresIn;
  std::optional<std::int64_t> expiresAt;
  std::optional<std::string> email;

  static std::optional<TokenResponse> decode(std::string_view body) {
    try {
      const auto object = json::parseObject(body);
      TokenResponse response{.accessToken = json::requireString(object, "access_token"),
                             .refreshToken = json::optionalString(object, "refresh_token"),
                             .expiresIn = json::optionalInt64(object, "expires_in"),
                             .expiresAt = json::optionalInt64(object, "expires_at"),
                             .email = std::nullopt};
      const auto user = object.find("user");
      if (user != object.end() && !user->is_null()) {
        if (!user->is_object()) return std::nullopt;
        response.email = json::optionalString(*user, "email");
      }
      return response;
    } catch (const DecodingError&) {
      return std::nullopt;
    }
  }
};

}  // namespace

AuthStore::AuthStore(std::shared_ptr<SessionStorage> storage, std::shared_ptr<HTTPPerforming> http,
                     Url backendURL, std::string anonKey, Now now)
    : storage_(std::move(storage)),
      http_(std::move(http)),
      backendURL_(std::move(backendURL)),
      anonKey_(std::move(anonKey)),
      now_(std::move(now)) {}

const std::optional<AuthSession>& AuthStore::currentLocked() const {
  if (!loaded_) {
    session_ = storage_->load();
    loaded_ = true;
  }
  return session_;
}

std::optional<AuthSession> AuthStore::session() const {
  std::lock_guard lock(mutex_);
  return currentLocked();
}

std::optional<std::string> AuthStore::email() const {
  std::lock_guard lock(mutex_);
  const auto& current = currentLocked();
  return current ? current->email : std::nullopt;
}

void AuthStore::setOnChange(ChangeHandler handler) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(handler);
}

std::optional<std::uint64_t> AuthStore::replace(std::optional<std::uint64_t> generation,
                                                const std::optional<AuthSession>& session, bool store) {
  std::uint64_t made = 0;
  {
    std::lock_guard lock(mutex_);
    if (generation && *generation != generation_) return std::nullopt;
    if (!generation && inFlightRefresh_) {
      // Sign-in and sign-out overtake a running refresh: its answer belongs to a
      // session that is gone.
      inFlightRefresh_->stop.request_stop();
      inFlightRefresh_.reset();
    }
    session_ = session;
    loaded_ = true;
    made = ++generation_;
  }
  std::lock_guard publishing(publishMutex_);
  ChangeHandler handler;
  {
    std::lock_guard lock(mutex_);
    // A newer change is published after this one: only its state is written.
    if (made != generation_) return made;
    handler = onChange_;
  }
  if (store) storage_->save(session);
  if (handler) handler(session);
  return made;
}

void AuthStore::adopt(const AuthSession& session) { replace(std::nullopt, session); }

void AuthStore::signOut() { replace(std::nullopt, std::nullopt); }

void AuthStore::signOutEverywhere(std::stop_token stop) {
  static const Logger log{"auth"};
  if (const auto current = session()) {
    HTTPRequest request;
    request.method = "POST";
    request.url = backendURL_.appendingPathComponent("logout").text();
    request.timeoutSec = 10;
    request.headers = {{"Content-Type", "application/json"},
                       {"apikey", anonKey_},
                       {"Authorization", "Bearer " + current->accessToken}};
    request.body = "{}";
    try {
      const HTTPResponse response = http_->data(request, std::move(stop));
      if (response.status != 204 && response.status != 200) {
        log.warning("the backend answered {} to signing out", response.status);
      }
    } catch (const std::exception& error) {
      log.warning("couldn't tell the backend about signing out: {}", error.what());
    }
  }
  signOut();
}

std::string AuthStore::supersededResult() const {
  std::lock_guard lock(mutex_);
  if (!session_) throw CancellationError();
  return session_->accessToken;
}

std::string AuthStore::validAccessToken(std::stop_token stop) {
  std::string accessToken;
  {
    std::lock_guard lock(mutex_);
    const auto& current = currentLocked();
    if (!current) throw AuthError::notSignedIn();
    if (current->isFresh(now_(), kFreshnessMarginSec)) return current->accessToken;
    accessToken = current->accessToken;
  }
  return refresh(accessToken, std::move(stop));
}

std::string AuthStore::forceRefresh(std::stop_token stop) { return refresh(std::nullopt, std::move(stop)); }

std::string AuthStore::refresh(const std::optional<std::string>& staleAccessToken, std::stop_token stop) {
  std::shared_ptr<Refresh> refresh;
  std::promise<void> promise;
  AuthSession sent;
  std::uint64_t generation = 0;
  {
    std::unique_lock lock(mutex_);
    if (inFlightRefresh_) {
      // Join the refresh that is already running and do nothing else.
      const auto joined = inFlightRefresh_;
      lock.unlock();
      while (joined->done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (stop.stop_requested()) throw CancellationError();
      }
      if (joined->rethrow) joined->rethrow();
      return joined->token;
    }
    const auto& current = currentLocked();
    if (!current) throw AuthError::notSignedIn();
    // A caller that saw an expired token just before another caller's refresh ended
    // takes the renewed token instead of spending the new refresh token at once.
    if (staleAccessToken && current->accessToken != *staleAccessToken &&
        current->isFresh(now_(), kFreshnessMarginSec)) {
      return current->accessToken;
    }
    sent = *current;
    generation = generation_;
    refresh = std::make_shared<Refresh>();
    refresh->done = promise.get_future().share();
    inFlightRefresh_ = refresh;
  }

  // The refresh runs on this thread on behalf of every caller; only sign-in and
  // sign-out stop it, because giving up on it would fail the other waiters too.
  std::exception_ptr failure;
  try {
    refresh->token = exchange(sent, generation, refresh->stop.get_token(), true);
  } catch (...) {
    failure = std::current_exception();
    refresh->rethrow = rethrowerFor(failure);
  }
  promise.set_value();
  {
    std::lock_guard lock(mutex_);
    if (inFlightRefresh_ == refresh) inFlightRefresh_.reset();
  }
  if (failure) std::rethrow_exception(failure);
  return refresh->token;
}

std::function<void()> AuthStore::rethrowerFor(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const AuthError& error) {
    return [kind = error.kind(), detail = std::string(error.detail())] {
      throw kind == AuthError::Kind::notSignedIn ? AuthError::notSignedIn() : AuthError::refreshFailed(detail);
    };
  } catch (const TransportError& error) {
    return [kind = error.kind(), message = std::string(error.what()), code = error.curlCode()] {
      throw TransportError(kind, message, code);
    };
  } catch (const CancellationError&) {
    return [] { throw CancellationError(); };
  } catch (...) {
    return [failure] { std::rethrow_exception(failure); };
  }
}

std::string AuthStore::exchange(const AuthSession& sent, std::uint64_t generation, std::stop_token stop,
                                bool mayRetry) {
  HTTPRequest request;
  request.method = "POST";
  request.url = backendURL_.appendingPathComponent("token").text() + "?grant_type=refresh_token";
  request.timeoutSec = 60;
  request.headers = {{"Content-Type", "application/json"}, {"apikey", anonKey_}};
  request.body = nlohmann::json{{"refresh_token", sent.refreshToken}}.dump();

  // A transport failure propagates as it is and leaves the session in place.
  HTTPResponse response;
  try {
    response = http_->data(request, stop);
  } catch (const CancellationError&) {
    return supersededResult();
  }
  if (stop.stop_requested()) return supersededResult();

  if (response.status == 400 || response.status == 401) {
    // Another process sharing the stored item may have rotated the refresh token
    // first: its newer session is taken up, not deleted.
    const auto stored = storage_->load();
    if (stored && stored->refreshToken != sent.refreshToken) {
      const auto adopted = replace(generation, stored, false);
      if (!adopted) return supersededResult();
      if (stored->isFresh(now_(), kFreshnessMarginSec) || !mayRetry) return stored->accessToken;
      return exchange(*stored, *adopted, stop, false);
    }
    if (!replace(generation, std::nullopt)) return supersededResult();
    throw AuthError::refreshFailed("your session expired, please sign in again");
  }
  if (response.status == 200) {
    const auto decoded = TokenResponse::decode(response.body);
    if (decoded && !decoded->accessToken.empty()) {
      const Date now = now_();
      Date expiresAt = now + std::chrono::seconds(kDefaultLifetimeSec);
      if (decoded->expiresAt) {
        expiresAt = Date(std::chrono::seconds(*decoded->expiresAt));
      } else if (decoded->expiresIn) {
        expiresAt = now + std::chrono::seconds(*decoded->expiresIn);
      }
      const AuthSession renewed{.accessToken = decoded->accessToken,
                                .refreshToken = decoded->refreshToken.value_or(sent.refreshToken),
                                .expiresAt = expiresAt,
                                .email = decoded->email ? decoded->email : sent.email};
      if (!replace(generation, renewed)) return supersededResult();
      return renewed.accessToken;
    }
  }
  throw AuthError::refreshFailed(fmt::format("network error ({})", response.status));
}

}  // namespace tolvane
