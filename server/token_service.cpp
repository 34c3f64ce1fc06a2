#include "server/token_service.h"

#include "server/database.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {

TokenService::TokenService(Database& database, AccountStore& accounts, Jwt jwt, int64_t accessTokenTTL)
    : database_(database), accounts_(accounts), jwt_(std::move(jwt)), accessTokenTTL_(accessTokenTTL) {}

TokenGrant TokenService::issue(const Account& account) {
  const int64_t now = unixNow();
  TokenGrant grant;
  grant.account = account;
  grant.expiresIn = accessTokenTTL_;
  grant.expiresAt = now + accessTokenTTL_;
  // "jti" keeps two tokens issued in the same second for the same account distinct.
  grant.accessToken = jwt_.sign({{"sub", account.id},
                                 {"email", account.email},
                                 {"role", "authenticated"},
                                 {"iat", now},
                                 {"exp", grant.expiresAt},
                                 {"jti", crypto::randomHex(8)}});
  grant.refreshToken = crypto::randomHex(32);
  database_.execute("INSERT INTO refresh_tokens (token_hash, account_id, created_at) VALUES (?, ?, ?)",
                    {crypto::sha256Hex(grant.refreshToken), account.id, now});
  return grant;
}

std::optional<TokenGrant> TokenService::refresh(std::string_view refreshToken) {
  if (refreshToken.empty()) return std::nullopt;
  const std::string hash = crypto::sha256Hex(refreshToken);
  // Marking the token used and issuing its successor happen in one transaction, so two
  // concurrent refreshes with the same token cannot both succeed.
  return database_.transaction([&]() -> std::optional<TokenGrant> {
    const int64_t used = database_.execute(
        "UPDATE refresh_tokens SET used_at = ? WHERE token_hash = ? AND used_at IS NULL AND revoked_at IS NULL",
        {unixNow(), hash});
    if (used != 1) return std::nullopt;
    const auto row = database_.queryOne("SELECT account_id FROM refresh_tokens WHERE token_hash = ?", {hash});
    const auto account = accounts_.byId(row->text(0));
    if (!account) return std::nullopt;
    return issue(*account);
  });
}

std::optional<Account> TokenService::authenticate(std::string_view accessToken) {
  const auto claims = jwt_.verify(accessToken, unixNow());
  if (!claims) return std::nullopt;
  const auto sub = claims->find("sub");
  if (sub == claims->end() || !sub->is_string()) return std::nullopt;
  return accounts_.byId(sub->get<std::string>());
}

void TokenService::revokeAll(const std::string& accountId) {
  database_.execute("UPDATE refresh_tokens SET revoked_at = ? WHERE account_id = ? AND revoked_at IS NULL",
                    {unixNow(), accountId});
}

}  // namespace tolvane::server
