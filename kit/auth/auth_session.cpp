#include "kit/auth/auth_session.h"

#include <nlohmann/json.hpp>

#include "kit/upload/json_fields.h"

namespace tolvane {

bool AuthSession::isFresh(Date now, double marginSec) const {
  return expiresAt > now + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(marginSec));
}

std::string AuthSession::toStoredJSON() const {
  nlohmann::json object = {{"accessToken", accessToken},
                           {"refreshToken", refreshToken},
                           {"expiresAt", secondsSinceReferenceDate(expiresAt)}};
  if (email) object["email"] = *email;
  return object.dump();
}

std::optional<AuthSession> AuthSession::fromStoredJSON(std::string_view text) {
  try {
    const auto object = json::parseObject(text);
    return AuthSession{.accessToken = json::requireString(object, "accessToken"),
                       .refreshToken = json::requireString(object, "refreshToken"),
                       .expiresAt = dateFromReferenceSeconds(json::requireDouble(object, "expiresAt")),
                       .email = json::optionalString(object, "email")};
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

}  // namespace tolvane
