#include "kit/auth/auth_session.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "kit/net/json_fields.h"

namespace tolvane {
namespace {

constexpr std::int64_t kReferenceDateUnix = 978307200;  // 2001-01-01T00:00:00Z

// Whole seconds and the fraction are converted apart so that an expiry survives the
// trip through a double to the nanosecond whenever the double can hold it.
double referenceSeconds(Date date) {
  const auto whole = std::chrono::floor<std::chrono::seconds>(date);
  const auto fraction = std::chrono::duration_cast<std::chrono::nanoseconds>(date - whole);
  return static_cast<double>(whole.time_since_epoch().count() - kReferenceDateUnix) +
         static_cast<double>(fraction.count()) / 1e9;
}

std::optional<Date> dateFromReference(double seconds) {
  if (!std::isfinite(seconds) || std::abs(seconds) > 1e15) return std::nullopt;
  const double whole = std::floor(seconds);
  const auto nanos = static_cast<std::int64_t>(std::llround((seconds - whole) * 1e9));
  return Date(std::chrono::seconds(static_cast<std::int64_t>(whole) + kReferenceDateUnix)) +
         std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(nanos));
}

}  // namespace

bool AuthSession::isFresh(Date now, double marginSec) const {
  return expiresAt > now + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(marginSec));
}

std::string AuthSession::toStoredJSON() const {
  nlohmann::json object = {{"accessToken", accessToken},
                           {"refreshToken", refreshToken},
                           {"expiresAt", referenceSeconds(expiresAt)}};
  if (email) object["email"] = *email;
  return object.dump();
}

std::optional<AuthSession> AuthSession::fromStoredJSON(std::string_view text) {
  try {
    const auto object = json::parseObject(text);
    const auto expiresAt = dateFromReference(json::requireDouble(object, "expiresAt"));
    if (!expiresAt) return std::nullopt;
    return AuthSession{.accessToken = json::requireString(object, "accessToken"),
                       .refreshToken = json::requireString(object, "refreshToken"),
                       .expiresAt = *expiresAt,
                       .email = json::optionalString(object, "email")};
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

}  // namespace tolvane
