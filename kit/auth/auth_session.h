#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kit/base/iso8601.h"

namespace tolvane {

// The signed-in user's tokens.
struct AuthSession {
  std::string accessToken;
  std::string refreshToken;
  Date expiresAt;
  std::optional<std::string> email;

  // True when the access token stays valid for more than `marginSec` after `now`.
  bool isFresh(Date now, double marginSec) const;

  // The stored form: {"accessToken", "refreshToken", "expiresAt" (seconds since
  // 2001-01-01T00:00:00Z as a JSON number), "email" (left out when absent)}.
  std::string toStoredJSON() const;
  // None when the text is not such an object (missing tokens or expiry, wrong types).
  static std::optional<AuthSession> fromStoredJSON(std::string_view text);

  bool operator==(const AuthSession&) const = default;
};

}  // namespace tolvane
