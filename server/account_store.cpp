#include "server/account_store.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <fmt/format.h>

#include "kit/base/uuid.h"
#include "server/database.h"
#include "server/unix_time.h"

namespace tolvane::server {
namespace {

std::string newAccountId() {
  std::string id = makeUUID();
  std::transform(id.begin(), id.end(), id.begin(), [](char c) { return char(std::tolower(c)); });
  return id;
}

std::string checkedEmail(std::string_view text) {
  const auto email = AccountStore::normalizedEmail(text);
  if (!email) throw std::invalid_argument("That isn't an e-mail address.");
  return *email;
}

}  // namespace

std::optional<std::string> AccountStore::normalizedEmail(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  const auto at = text.find('@');
  if (text.size() > 254 || at == std::string_view::npos || at == 0 || at + 1 == text.size()) return std::nullopt;
  if (text.find('@', at + 1) != std::string_view::npos) return std::nullopt;
  std::string email;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte == 0x7f || c == '<' || c == '>' || c == '"' || c == ',') return std::nullopt;
    email.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  }
  return email;
}

std::string AccountStore::hashChecked(std::string_view password) const {
  if (password.size() < PasswordHasher::minimumLength) {
    throw std::invalid_argument(
        fmt::format("A password needs at least {} characters.", PasswordHasher::minimumLength));
  }
  if (password.size() > 1024) throw std::invalid_argument("A password may have at most 1024 characters.");
  return hasher_.hash(password);
}

Account AccountStore::findOrCreate(std::string_view text) {
  const std::string email = checkedEmail(text);
  return database_.transaction([&] {
    if (auto row = database_.queryOne("SELECT id, email FROM accounts WHERE email = ?", {email})) {
      return Account{row->text(0), row->text(1)};
    }
    const std::string id = newAccountId();
    database_.execute("INSERT INTO accounts (id, email, created_at) VALUES (?, ?, ?)", {id, email, unixNow()});
    return Account{id, email};
  });
}

Account AccountStore::create(std::string_view text, std::string_view password) {
  const std::string email = checkedEmail(text);
  const std::string hash = hashChecked(password);  // outside the lock: it takes a while
  return database_.transaction([&] {
    if (database_.queryOne("SELECT id FROM accounts WHERE email = ?", {email})) {
      throw std::invalid_argument("An account with that e-mail address already exists.");
    }
    const std::string id = newAccountId();
    database_.execute("INSERT INTO accounts (id, email, created_at, password_hash) VALUES (?, ?, ?, ?)",
                      {id, email, unixNow(), hash});
    return Account{id, email};
  });
}

bool AccountStore::setPassword(std::string_view text, std::string_view password) {
  const std::string email = checkedEmail(text);
  const std::string hash = hashChecked(password);
  return database_.execute("UPDATE accounts SET password_hash = ? WHERE email = ?", {hash, email}) == 1;
}

std::optional<Account> AccountStore::verify(std::string_view text, std::string_view password) {
  const auto email = normalizedEmail(text);
  const auto row = email ? database_.queryOne("SELECT id, email, password_hash FROM accounts WHERE email = ?", {*email})
                         : std::nullopt;
  if (!row || row->isNull(2)) {
    hasher_.waste(password);
    return std::nullopt;
  }
  if (!PasswordHasher::verify(password, row->text(2))) return std::nullopt;
  return Account{row->text(0), row->text(1)};
}

std::optional<Account> AccountStore::byId(const std::string& id) {
  auto row = database_.queryOne("SELECT id, email FROM accounts WHERE id = ?", {id});
  if (!row) return std::nullopt;
  return Account{row->text(0), row->text(1)};
}

std::optional<Account> AccountStore::byEmail(std::string_view text) {
  const auto email = normalizedEmail(text);
  if (!email) return std::nullopt;
  auto row = database_.queryOne("SELECT id, email FROM accounts WHERE email = ?", {*email});
  if (!row) return std::nullopt;
  return Account{row->text(0), row->text(1)};
}

std::vector<Account> AccountStore::list() {
  std::vector<Account> accounts;
  for (const auto& row : database_.query("SELECT id, email FROM accounts ORDER BY email")) {
    accounts.push_back(Account{row.text(0), row.text(1)});
  }
  return accounts;
}

std::optional<std::vector<std::string>> AccountStore::remove(std::string_view text) {
  const auto account = byEmail(text);
  if (!account) return std::nullopt;
  return database_.transaction([&] {
    std::vector<std::string> uploads;
    for (const auto& row : database_.query(
             "SELECT id FROM uploads WHERE video_uid IN (SELECT uid FROM videos WHERE account_id = ?)", {account->id})) {
      uploads.push_back(row.text(0));
    }
    const std::vector<Database::Value> id{account->id};
    database_.execute("DELETE FROM uploads WHERE video_uid IN (SELECT uid FROM videos WHERE account_id = ?)", id);
    database_.execute("DELETE FROM videos WHERE account_id = ?", id);
    database_.execute("DELETE FROM refresh_tokens WHERE account_id = ?", id);
    database_.execute("DELETE FROM web_sessions WHERE account_id = ?", id);
    database_.execute("DELETE FROM sign_in_requests WHERE account_id = ?", id);
    database_.execute("DELETE FROM accounts WHERE id = ?", id);
    return uploads;
  });
}

}  // namespace tolvane::server
