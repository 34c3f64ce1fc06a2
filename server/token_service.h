#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/account_store.h"
#include "server/jwt.h"
#include "server/unix_time.h"

namespace tolvane::server {

class Database;

// What a sign-in or a refresh hands to the client.
struct TokenGrant {
  std::string accessToken;
  std::string refreshToken;
  int64_t expiresIn = 0;  // seconds
  int64_t expiresAt = 0;  // Unix seconds
  Account account;
};

// The caller of a request with a valid access token.
struct Bearer {
  Account account;
  std::string familyId;  // the sign-in the token descends from
};

// Issues access tokens (JWTs with "sub", "email", "exp" and the sign-in's "session_id")
// and refresh tokens. Every sign-in starts a family of refresh tokens: each refresh uses
// up the presented token and hands out its successor in the same family. A used token
// presented again means it was stolen (or the thief's copy was used first), so the whole
// family is revoked, with one grace: the same token again within `graceSeconds` of its
// use gets the same successor (the client lost the answer).
class TokenService {
 public:
  static constexpr int64_t graceSeconds = 10;

  TokenService(Database& database, AccountStore& accounts, Jwt jwt, int64_t accessTokenTTL, int64_t refreshTokenTTL,
               UnixClock clock = unixNow);

  // The first grant of a sign-in: of a new family, or of `familyId` (the browser session
  // that approved it).
  TokenGrant issue(const Account& account, const std::optional<std::string>& familyId = std::nullopt);
  // A new grant for a refresh token that is known, unexpired, unused and not revoked;
  // none otherwise.
  std::optional<TokenGrant> refresh(std::string_view refreshToken);
  // The caller of an access token whose signature holds, that has not expired, whose
  // family was not revoked and whose account still exists.
  std::optional<Bearer> authenticate(std::string_view accessToken);
  void revokeFamily(const std::string& familyId);
  // Ends every refresh token of the account (signing out everywhere).
  void revokeAll(const std::string& accountId);
  // Deletes expired refresh tokens; returns how many.
  int64_t purgeExpired();

 private:
  struct Rotation {
    std::string successorHash;
    int64_t usedAt = 0;
    TokenGrant grant;
  };

  TokenGrant grant(const Account& account, const std::string& familyId, int64_t now);

  Database& database_;
  AccountStore& accounts_;
  Jwt jwt_;
  int64_t accessTokenTTL_;
  int64_t refreshTokenTTL_;
  UnixClock clock_;
  // Successors handed out in the last `graceSeconds`, by the hash of the token used.
  // Kept in memory only: the database never holds a usable token.
  std::mutex rotationsMutex_;
  std::map<std::string, Rotation> rotations_;
};

}  // namespace tolvane::server
