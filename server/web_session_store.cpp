#include "server/web_session_store.h"

#include "server/database.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {

std::string WebSessionStore::create(const std::string& accountId) {
  std::string token = crypto::randomHex(32);
  database_.execute("INSERT INTO web_sessions (token_hash, account_id, expires_at, family_id) VALUES (?, ?, ?, ?)",
                    {crypto::sha256Hex(token), accountId, unixNow() + lifetime, crypto::randomHex(16)});
  return token;
}

std::optional<std::string> WebSessionStore::accountId(const std::string& token) {
  if (token.empty()) return std::nullopt;
  const auto row = database_.queryOne("SELECT account_id FROM web_sessions WHERE token_hash = ? AND expires_at > ?",
                                      {crypto::sha256Hex(token), unixNow()});
  if (!row) return std::nullopt;
  return row->text(0);
}

std::optional<std::string> WebSessionStore::familyId(const std::string& token) {
  const auto row = database_.queryOne("SELECT family_id FROM web_sessions WHERE token_hash = ? AND expires_at > ?",
                                      {crypto::sha256Hex(token), unixNow()});
  if (!row || row->isNull(0)) return std::nullopt;
  return row->text(0);
}

std::optional<std::string> WebSessionStore::remove(const std::string& token) {
  return database_.transaction([&]() -> std::optional<std::string> {
    const auto row =
        database_.queryOne("SELECT family_id FROM web_sessions WHERE token_hash = ?", {crypto::sha256Hex(token)});
    database_.execute("DELETE FROM web_sessions WHERE token_hash = ?", {crypto::sha256Hex(token)});
    if (!row || row->isNull(0)) return std::nullopt;
    return row->text(0);
  });
}

int64_t WebSessionStore::purgeExpired() {
  return database_.execute("DELETE FROM web_sessions WHERE expires_at <= ?", {unixNow()});
}

}  // namespace tolvane::server
