#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane::server {

class Database;

// Browser sessions of the web pages, carried in a cookie. Only the token's hash is kept.
// Each session starts a token family: desktop sign-ins approved in it join that family,
// so signing out of the browser also signs those out.
class WebSessionStore {
 public:
  static constexpr int64_t lifetime = 30 * 24 * 3600;

  explicit WebSessionStore(Database& database) : database_(database) {}

  std::string create(const std::string& accountId);
  std::optional<std::string> accountId(const std::string& token);
  std::optional<std::string> familyId(const std::string& token);
  // Ends the session; its family id, when there was one.
  std::optional<std::string> remove(const std::string& token);
  // Deletes sessions past their expiry; returns how many.
  int64_t purgeExpired();

 private:
  Database& database_;
};

}  // namespace tolvane::server
