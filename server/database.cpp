#include "server/database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <fmt/format.h>
#include <sqlite3.h>

namespace tolvane::server {
namespace {

// Version 1 of the schema. Times are Unix seconds. Secrets are kept only as SHA-256
// hashes (refresh tokens, web sessions), so a copied database grants nothing.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS accounts (
  id TEXT PRIMARY KEY,
  email TEXT NOT NULL UNIQUE COLLATE NOCASE,
  created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS refresh_tokens (
  token_hash TEXT PRIMARY KEY,
  account_id TEXT NOT NULL REFERENCES accounts(id),
  created_at INTEGER NOT NULL,
  used_at INTEGER,
  revoked_at INTEGER);
CREATE TABLE IF NOT EXISTS sign_in_requests (
  id TEXT PRIMARY KEY,
  device_name TEXT NOT NULL,
  code_challenge TEXT NOT NULL,
  created_at INTEGER NOT NULL,
  expires_at INTEGER NOT NULL,
  account_id TEXT REFERENCES accounts(id),
  redeemed_at INTEGER);
CREATE TABLE IF NOT EXISTS web_sessions (
  token_hash TEXT PRIMARY KEY,
  account_id TEXT NOT NULL REFERENCES accounts(id),
  expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS videos (
  uid TEXT PRIMARY KEY,
  seq INTEGER NOT NULL UNIQUE,
  account_id TEXT NOT NULL REFERENCES accounts(id),
  name TEXT NOT NULL,
  title TEXT,
  duration_sec INTEGER,
  saved_at INTEGER,
  created_at INTEGER NOT NULL,
  views INTEGER NOT NULL DEFAULT 0,
  upload_id TEXT,
  probed_duration REAL,
  ready INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS videos_by_account ON videos(account_id, saved_at);
CREATE TABLE IF NOT EXISTS uploads (
  id TEXT PRIMARY KEY,
  video_uid TEXT NOT NULL REFERENCES videos(uid),
  length INTEGER NOT NULL,
  metadata TEXT NOT NULL,
  created_at INTEGER NOT NULL,
  expires_at INTEGER NOT NULL,
  completed_at INTEGER);
)sql";

// Version 2: passwords, refresh-token families with expiry (a desktop sign-in approved
// in a browser joins the family of that browser's session), and upload files that were
// removed (replaced, abandoned or expired) so that quotas count only what is on disk.
// The signing keys moved out of the database into the key file.
constexpr const char* kVersion2 = R"sql(
ALTER TABLE accounts ADD COLUMN password_hash TEXT;
ALTER TABLE refresh_tokens ADD COLUMN family_id TEXT;
ALTER TABLE refresh_tokens ADD COLUMN expires_at INTEGER;
UPDATE refresh_tokens SET family_id = token_hash, expires_at = created_at + 2592000;
CREATE INDEX IF NOT EXISTS refresh_tokens_by_family ON refresh_tokens(family_id);
ALTER TABLE uploads ADD COLUMN removed_at INTEGER;
ALTER TABLE web_sessions ADD COLUMN family_id TEXT;
ALTER TABLE sign_in_requests ADD COLUMN family_id TEXT;
CREATE INDEX IF NOT EXISTS uploads_by_video ON uploads(video_uid);
DELETE FROM settings WHERE key IN ('jwt_secret', 'upload_secret');
PRAGMA user_version = 2;
)sql";

}  // namespace

int64_t Database::Row::integer(std::size_t column) const {
  const auto& value = values.at(column);
  if (const auto* i = std::get_if<int64_t>(&value)) return *i;
  if (const auto* d = std::get_if<double>(&value)) return int64_t(*d);
  return 0;
}

double Database::Row::real(std::size_t column) const {
  const auto& value = values.at(column);
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<int64_t>(&value)) return double(*i);
  return 0;
}

std::string Database::Row::text(std::size_t column) const {
  const auto& value = values.at(column);
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  return {};
}

std::optional<int64_t> Database::Row::optionalInteger(std::size_t column) const {
  if (isNull(column)) return std::nullopt;
  return integer(column);
}

std::optional<double> Database::Row::optionalReal(std::size_t column) const {
  if (isNull(column)) return std::nullopt;
  return real(column);
}

Database::Database(const std::filesystem::path& path) {
  // The file is made private before SQLite opens it; its journal and WAL files take the
  // same mode from it.
  if (const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600); fd >= 0) {
    ::fchmod(fd, 0600);
    ::close(fd);
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
      SQLITE_OK) {
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw DatabaseError(fmt::format("Couldn't open the database at {}: {}.", path.string(), message));
  }
  sqlite3_busy_timeout(db_, 5000);
  execute("PRAGMA journal_mode = WAL");
  execute("PRAGMA foreign_keys = ON");
  migrate();
}

Database::~Database() { sqlite3_close(db_); }

void Database::migrate() {
  std::lock_guard lock(mutex_);
  char* error = nullptr;
  if (sqlite3_exec(db_, kSchema, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw DatabaseError(fmt::format("Couldn't prepare the database: {}.", message));
  }
  if (queryOne("PRAGMA user_version")->integer(0) < 2) {
    transaction([&] {
      if (sqlite3_exec(db_, kVersion2, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(fmt::format("Couldn't update the database: {}.", message));
      }
    });
  }
}

void Database::fail(std::string_view what) {
  throw DatabaseError(fmt::format("The database failed ({}): {}.", what, sqlite3_errmsg(db_)));
}

std::vector<Database::Row> Database::query(std::string_view sql, const std::vector<Value>& parameters) {
  return run(sql, parameters, nullptr);
}

std::optional<Database::Row> Database::queryOne(std::string_view sql, const std::vector<Value>& parameters) {
  auto rows = run(sql, parameters, nullptr);
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

int64_t Database::execute(std::string_view sql, const std::vector<Value>& parameters) {
  int64_t changes = 0;
  run(sql, parameters, &changes);
  return changes;
}

std::vector<Database::Row> Database::run(std::string_view sql, const std::vector<Value>& parameters, int64_t* changes) {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), int(sql.size()), &raw, nullptr) != SQLITE_OK) fail("prepare");
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);

  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const int index = int(i + 1);
    int status = SQLITE_OK;
    std::visit(
        [&](const auto& value) {
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, std::nullptr_t>) status = sqlite3_bind_null(raw, index);
          else if constexpr (std::is_same_v<T, int64_t>) status = sqlite3_bind_int64(raw, index, value);
          else if constexpr (std::is_same_v<T, double>) status = sqlite3_bind_double(raw, index, value);
          else status = sqlite3_bind_text(raw, index, value.data(), int(value.size()), SQLITE_TRANSIENT);
        },
        parameters[i]);
    if (status != SQLITE_OK) fail("bind");
  }

  std::vector<Row> rows;
  while (true) {
    const int status = sqlite3_step(raw);
    if (status == SQLITE_DONE) break;
    if (status != SQLITE_ROW) fail("step");
    Row row;
    const int columns = sqlite3_column_count(raw);
    row.values.reserve(std::size_t(columns));
    for (int c = 0; c < columns; ++c) {
      switch (sqlite3_column_type(raw, c)) {
        case SQLITE_INTEGER: row.values.emplace_back(int64_t(sqlite3_column_int64(raw, c))); break;
        case SQLITE_FLOAT: row.values.emplace_back(sqlite3_column_double(raw, c)); break;
        case SQLITE_NULL: row.values.emplace_back(nullptr); break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
          row.values.emplace_back(std::string(text != nullptr ? text : "", std::size_t(sqlite3_column_bytes(raw, c))));
        }
      }
    }
    rows.push_back(std::move(row));
  }
  if (changes != nullptr) *changes = sqlite3_changes64(db_);
  return rows;
}

}  // namespace tolvane::server
