#include "server/sign_in_store.h"

#include "server/database.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {

SignInRequest SignInStore::start(const std::string& deviceName, const std::string& codeChallenge) {
  SignInRequest request;
  request.id = crypto::randomHex(16);
  request.deviceName = deviceName;
  request.codeChallenge = codeChallenge;
  request.createdAt = unixNow();
  request.expiresAt = request.createdAt + ttl_;
  database_.execute(
      "INSERT INTO sign_in_requests (id, device_name, code_challenge, created_at, expires_at) VALUES (?, ?, ?, ?, ?)",
      {request.id, request.deviceName, request.codeChallenge, request.createdAt, request.expiresAt});
  return request;
}

std::optional<SignInRequest> SignInStore::find(const std::string& id) {
  const auto row = database_.queryOne(
      "SELECT id, device_name, code_challenge, created_at, expires_at, account_id, redeemed_at, family_id "
      "FROM sign_in_requests WHERE id = ?",
      {id});
  if (!row) return std::nullopt;
  SignInRequest request;
  request.id = row->text(0);
  request.deviceName = row->text(1);
  request.codeChallenge = row->text(2);
  request.createdAt = row->integer(3);
  request.expiresAt = row->integer(4);
  if (!row->isNull(5)) request.approvedAccountId = row->text(5);
  request.isRedeemed = !row->isNull(6);
  if (!row->isNull(7)) request.familyId = row->text(7);
  return request;
}

bool SignInStore::approve(const std::string& id, const std::string& accountId,
                          const std::optional<std::string>& familyId) {
  Database::Value family = nullptr;
  if (familyId) family = *familyId;
  return database_.execute(
             "UPDATE sign_in_requests SET account_id = ?, family_id = ? "
             "WHERE id = ? AND account_id IS NULL AND redeemed_at IS NULL AND expires_at > ?",
             {accountId, family, id, unixNow()}) == 1;
}

bool SignInStore::redeem(const std::string& id) {
  return database_.execute(
             "UPDATE sign_in_requests SET redeemed_at = ? "
             "WHERE id = ? AND account_id IS NOT NULL AND redeemed_at IS NULL AND expires_at > ?",
             {unixNow(), id, unixNow()}) == 1;
}

int64_t SignInStore::purgeExpired() {
  return database_.execute("DELETE FROM sign_in_requests WHERE expires_at <= ?", {unixNow()});
}

}  // namespace tolvane::server
