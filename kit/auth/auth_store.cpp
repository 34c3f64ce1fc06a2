#include "kit/auth/auth_store.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_error.h"
#include "kit/base/errors.h"
#include "kit/net/json_fields.h"

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

std::optional<std::string> AuthStore::email() const {
  const auto stored = session();
  return stored ? stored->email : std::nullopt;
}

void AuthStore::setOnChange(ChangeHandler handler) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(handler);
}

void AuthStore::notify(const std::optional<AuthSession>& session) {
  ChangeHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = onChange_;
  }
  if (handler) handler(session);
}

void AuthStore::adopt(const AuthSession& session) {
  storage_->save(session);
  notify(session);
}

void AuthStore::signOut() {
  {
    std::lock_guard lock(mutex_);
    if (inFlightRefresh_) inFlightRefresh_->stop.request_stop();
    inFlightRefresh_.reset();
  }
  storage_->save(std::nullopt);
  notify(std::nullopt);
}

std::string AuthStore::validAccessToken(std::stop_token stop) {
  const auto stored = storage_->load();
  if (!stored) throw AuthError::notSignedIn();
  if (stored->isFresh(now_(), kFreshnessMarginSec)) return stored->accessToken;
  return refresh(stored->accessToken, std::move(stop));
}

std::string AuthStore::forceRefresh(std::stop_token stop) { return refresh(std::nullopt, std::move(stop)); }

std::string AuthStore::refresh(const std::optional<std::string>& staleAccessToken, std::stop_token stop) {
  std::shared_ptr<Refresh> refresh;
  std::promise<std::string> promise;
  {
    std::unique_lock lock(mutex_);
    if (inFlightRefresh_) {
      // Join the refresh that is already running and do nothing else.
      const auto result = inFlightRefresh_->result;
      lock.unlock();
      while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (stop.stop_requested()) throw CancellationError();
      }
      return result.get();
    }
    // A caller that saw an expired token just before another caller's refresh ended
    // takes the renewed token instead of spending the new refresh token at once.
    if (staleAccessToken) {
      const auto stored = storage_->load();
      if (stored && stored->accessToken != *staleAccessToken && stored->isFresh(now_(), kFreshnessMarginSec)) {
        return stored->accessToken;
      }
    }
    refresh = std::make_shared<Refresh>();
    refresh->result = promise.get_future().share();
    inFlightRefresh_ = refresh;
  }

  // The refresh runs on this thread on behalf of every caller; only signOut stops it,
  // because giving up on it would fail the other waiters too.
  std::exception_ptr failure;
  std::string token;
  try {
    const auto stored = storage_->load();
    if (!stored) throw AuthError::notSignedIn();
    token = runRefreshRequest(*stored, refresh->stop.get_token());
    promise.set_value(token);
  } catch (...) {
    failure = std::current_exception();
    promise.set_exception(failure);
  }

  // The request has already saved the new session, or removed it on 400/401.
  notify(storage_->load());
  {
    std::lock_guard lock(mutex_);
    if (inFlightRefresh_ == refresh) inFlightRefresh_.reset();
  }
  if (failure) std::rethrow_exception(failure);
  return token;
}

std::string AuthStore::runRefreshRequest(const AuthSession& session, std::stop_token stop) {
  HTTPRequest request;
  request.method = "POST";
  request.url = backendURL_.appendingPathComponent("token").text() + "?grant_type=refresh_token";
  request.timeoutSec = 60;
  request.headers = {{"Content-Type", "application/json"}, {"apikey", anonKey_}};
  request.body = nlohmann::json{{"refresh_token", session.refreshToken}}.dump();

  // A transport failure propagates as it is and leaves the session in place.
  const HTTPResponse response = http_->data(request, stop);
  if (stop.stop_requested()) throw CancellationError();

  if (response.status == 400 || response.status == 401) {
    storage_->save(std::nullopt);
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
                                .refreshToken = decoded->refreshToken.value_or(session.refreshToken),
                                .expiresAt = expiresAt,
                                .email = decoded->email ? decoded->email : session.email};
      storage_->save(renewed);
      return renewed.accessToken;
    }
  }
  throw AuthError::refreshFailed(fmt::format("network error ({})", response.status));
}

}  // namespace tolvane
