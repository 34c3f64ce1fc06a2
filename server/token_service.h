#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/account_store.h"
#include "server/jwt.h"

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

// Issues access tokens (JWTs with "sub", "email" and "exp") and refresh tokens (random,
// single use: every refresh marks the presented token used and hands out a new one).
class TokenService {
 public:
  TokenService(Database& database, AccountStore& accounts, Jwt jwt, int64_t accessTokenTTL);

  TokenGrant issue(const Account& account);
  // A new grant for a refresh token that is known, unused and not revoked; none otherwise.
  std::optional<TokenGrant> refresh(std::string_view refreshToken);
  // The account a bearer token belongs to, when its signature holds, it has not expired
  // and the account still exists.
  std::optional<Account> authenticate(std::string_view accessToken);
  // Ends every refresh token of the account (signing out everywhere).
  void revokeAll(const std::string& accountId);

 private:
  Database& database_;
  AccountStore& accounts_;
  Jwt jwt_;
  int64_t accessTokenTTL_;
};

}  // namespace tolvane::server
