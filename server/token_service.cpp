#include "server/token_service.h"

#include "server/database.h"
#include "server/server_crypto.h"

namespace tolvane::server {

TokenService::TokenService(Database& database, AccountStore& accounts, Jwt jwt, int64_t accessTokenTTL,
                           int64_t refreshTokenTTL, UnixClock clock)
    : database_(database),
      accounts_(accounts),
      jwt_(std::move(jwt)),
      accessTokenTTL_(accessTokenTTL),
      refreshTokenTTL_(refreshTokenTTL),
      clock_(std::move(clock)) {}

TokenGrant TokenService::grant(const Account& account, const std::string& familyId, int64_t now) {
  TokenGrant grant;
  grant.account = account;
  grant.expiresIn = accessTokenTTL_;
  grant.expiresAt = now + accessTokenTTL_;
  // "jti" keeps two tokens issued in the same second for the same account distinct.
  grant.accessToken = jwt_.sign({{"sub", account.id},
                                 {"email", account.email},
                                 {"role", "authenticated"},
                                 {"session_id", familyId},
                                 {"iat", now},
                                 {"exp", grant.expiresAt},
                                 {"jti", crypto::randomHex(8)}});
  grant.refreshToken = crypto::randomHex(32);
  database_.execute(
      "INSERT INTO refresh_tokens (token_hash, account_id, created_at, family_id, expires_at) VALUES (?, ?, ?, ?, ?)",
      {crypto::sha256Hex(grant.refreshToken), account.id, now, familyId, now + refreshTokenTTL_});
  return grant;
}

TokenGrant TokenService::issue(const Account& account, const std::optional<std::string>& familyId) {
  return grant(account, familyId.value_or(crypto::randomHex(16)), clock_());
}

std::optional<TokenGrant> TokenService::refresh(std::string_view refreshToken) {
  if (refreshToken.empty()) return std::nullopt;
  const std::string hash = crypto::sha256Hex(refreshToken);
  const int64_t now = clock_();
  // Reading, marking used and issuing the successor happen in one transaction, so two
  // concurrent refreshes with the same token cannot both rotate it.
  return database_.transaction([&]() -> std::optional<TokenGrant> {
    const auto row = database_.queryOne(
        "SELECT account_id, family_id, expires_at, used_at, revoked_at FROM refresh_tokens WHERE token_hash = ?",
        {hash});
    if (!row || !row->isNull(4) || row->integer(2) <= now) return std::nullopt;
    const std::string familyId = row->text(1);
    std::lock_guard lock(rotationsMutex_);
    std::erase_if(rotations_, [&](const auto& entry) { return entry.second.usedAt + graceSeconds < now; });
    if (!row->isNull(3)) {
      const auto rotation = rotations_.find(hash);
      if (rotation != rotations_.end()) {
        // The successor is handed out again only while nobody has used it yet.
        const auto successor =
            database_.queryOne("SELECT used_at, revoked_at FROM refresh_tokens WHERE token_hash = ?",
                               {rotation->second.successorHash});
        if (successor && successor->isNull(0) && successor->isNull(1)) return rotation->second.grant;
      }
      revokeFamily(familyId);
      return std::nullopt;
    }
    const auto account = accounts_.byId(row->text(0));
    if (!account) return std::nullopt;
    database_.execute("UPDATE refresh_tokens SET used_at = ? WHERE token_hash = ?", {now, hash});
    TokenGrant next = grant(*account, familyId, now);
    rotations_[hash] = Rotation{crypto::sha256Hex(next.refreshToken), now, next};
    return next;
  });
}

std::optional<Bearer> TokenService::authenticate(std::string_view accessToken) {
  const auto claims = jwt_.verify(accessToken, clock_());
  if (!claims) return std::nullopt;
  const auto sub = claims->find("sub");
  const auto session = claims->find("session_id");
  if (sub == claims->end() || !sub->is_string() || session == claims->end() || !session->is_string()) {
    return std::nullopt;
  }
  const std::string familyId = session->get<std::string>();
  if (database_.queryOne("SELECT 1 FROM refresh_tokens WHERE family_id = ? AND revoked_at IS NOT NULL LIMIT 1",
                         {familyId})) {
    return std::nullopt;
  }
  auto account = accounts_.byId(sub->get<std::string>());
  if (!account) return std::nullopt;
  return Bearer{std::move(*account), familyId};
}

void TokenService::revokeFamily(const std::string& familyId) {
  database_.execute("UPDATE refresh_tokens SET revoked_at = ? WHERE family_id = ? AND revoked_at IS NULL",
                    {clock_(), familyId});
}

void TokenService::revokeAll(const std::string& accountId) {
  database_.execute("UPDATE refresh_tokens SET revoked_at = ? WHERE account_id = ? AND revoked_at IS NULL",
                    {clock_(), accountId});
}

int64_t TokenService::purgeExpired() {
  // A revoked family stays on record until its last token expires, so its access tokens
  // stay refused for as long as they could be valid.
  return database_.execute(
      "DELETE FROM refresh_tokens WHERE family_id IN "
      "(SELECT family_id FROM refresh_tokens GROUP BY family_id HAVING MAX(expires_at) <= ?)",
      {clock_() - accessTokenTTL_});
}

}  // namespace tolvane::server
