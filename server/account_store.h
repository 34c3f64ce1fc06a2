#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::server {

class Database;

struct Account {
  std::string id;     // canonical lower-case UUID; the "sub" of access tokens
  std::string email;  // lower-case
};

// The local accounts. An account is known by its e-mail address; this self-hosted
// service has no passwords (it serves one machine or a trusted network).
class AccountStore {
 public:
  explicit AccountStore(Database& database) : database_(database) {}

  // The account for `email`, created on first use. Throws std::invalid_argument with a
  // user-facing sentence when the text is not an e-mail address.
  Account findOrCreate(std::string_view email);
  std::optional<Account> byId(const std::string& id);

  // Lower-cased and trimmed; none when it does not look like an e-mail address.
  static std::optional<std::string> normalizedEmail(std::string_view text);

 private:
  Database& database_;
};

}  // namespace tolvane::server
