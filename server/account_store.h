#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/password_hasher.h"

namespace tolvane::server {

class Database;

struct Account {
  std::string id;     // canonical lower-case UUID; the "sub" of access tokens
  std::string email;  // lower-case
};

// The local accounts, known by e-mail address. An account signs in on the web with its
// password; one without a password (made for --auto-approve) cannot sign in there.
class AccountStore {
 public:
  explicit AccountStore(Database& database, PasswordHasher hasher = PasswordHasher())
      : database_(database), hasher_(hasher) {}

  // The account for `email`, created without a password on first use. Throws
  // std::invalid_argument with a user-facing sentence when the text is not an e-mail
  // address.
  Account findOrCreate(std::string_view email);
  // A new account with a password. Throws std::invalid_argument with a sentence when the
  // address is malformed or taken, or the password too short.
  Account create(std::string_view email, std::string_view password);
  // Sets the password of an existing account; false when there is no such account.
  bool setPassword(std::string_view email, std::string_view password);
  // The account when `password` is its password; none otherwise (in about the same time).
  std::optional<Account> verify(std::string_view email, std::string_view password);
  std::optional<Account> byId(const std::string& id);
  std::optional<Account> byEmail(std::string_view email);
  std::vector<Account> list();
  // Deletes the account with everything it owns; the upload ids whose files the caller
  // deletes. None when there is no such account.
  std::optional<std::vector<std::string>> remove(std::string_view email);

  // Lower-cased and trimmed; none when it does not look like an e-mail address.
  static std::optional<std::string> normalizedEmail(std::string_view text);

 private:
  std::string hashChecked(std::string_view password) const;

  Database& database_;
  PasswordHasher hasher_;
};

}  // namespace tolvane::server
