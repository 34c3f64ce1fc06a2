#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane::server {

class Database;

// One desktop sign-in request: registered by the app with the SHA-256 hex of its
// verifier, approved in the browser by a signed-in user, redeemed once by the app.
struct SignInRequest {
  std::string id;
  std::string deviceName;
  std::string codeChallenge;
  int64_t createdAt = 0;
  int64_t expiresAt = 0;
  std::optional<std::string> approvedAccountId;
  std::optional<std::string> familyId;  // the token family of the browser session that approved it
  bool isRedeemed = false;
};

class SignInStore {
 public:
  SignInStore(Database& database, int64_t ttl) : database_(database), ttl_(ttl) {}

  SignInRequest start(const std::string& deviceName, const std::string& codeChallenge);
  std::optional<SignInRequest> find(const std::string& id);
  // False when the request is unknown, expired, redeemed or already approved.
  bool approve(const std::string& id, const std::string& accountId,
               const std::optional<std::string>& familyId = std::nullopt);
  // Marks an approved request redeemed; true only for the one caller that did so.
  bool redeem(const std::string& id);
  // Deletes requests past their expiry; returns how many.
  int64_t purgeExpired();

 private:
  Database& database_;
  int64_t ttl_;
};

}  // namespace tolvane::server
