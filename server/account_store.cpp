#include "server/account_store.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "kit/base/uuid.h"
#include "server/database.h"
#include "server/unix_time.h"

namespace tolvane::server {

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

Account AccountStore::findOrCreate(std::string_view text) {
  const auto email = normalizedEmail(text);
  if (!email) throw std::invalid_argument("That isn't an e-mail address.");
  return database_.transaction([&] {
    if (auto row = database_.queryOne("SELECT id, email FROM accounts WHERE email = ?", {*email})) {
      return Account{row->text(0), row->text(1)};
    }
    std::string id = makeUUID();
    std::transform(id.begin(), id.end(), id.begin(), [](char c) { return char(std::tolower(c)); });
    database_.execute("INSERT INTO accounts (id, email, created_at) VALUES (?, ?, ?)", {id, *email, unixNow()});
    return Account{id, *email};
  });
}

std::optional<Account> AccountStore::byId(const std::string& id) {
  auto row = database_.queryOne("SELECT id, email FROM accounts WHERE id = ?", {id});
  if (!row) return std::nullopt;
  return Account{row->text(0), row->text(1)};
}

}  // namespace tolvane::server
