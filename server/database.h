#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

struct sqlite3;

namespace tolvane::server {

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One SQLite database file shared by all stores. Every call runs under one lock, so the
// stores may be used from any of the server's worker threads; calls are short (no file
// transfer ever happens under it). `transaction` groups several calls atomically.
class Database {
 public:
  using Value = std::variant<std::nullptr_t, int64_t, double, std::string>;

  struct Row {
    std::vector<Value> values;
    bool isNull(std::size_t column) const { return std::holds_alternative<std::nullptr_t>(values.at(column)); }
    int64_t integer(std::size_t column) const;
    double real(std::size_t column) const;
    std::string text(std::size_t column) const;
    std::optional<int64_t> optionalInteger(std::size_t column) const;
    std::optional<double> optionalReal(std::size_t column) const;
  };

  // Opens (creating when missing) the file and brings its schema up to date.
  explicit Database(const std::filesystem::path& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  std::vector<Row> query(std::string_view sql, const std::vector<Value>& parameters = {});
  std::optional<Row> queryOne(std::string_view sql, const std::vector<Value>& parameters = {});
  // Runs a statement that returns no rows; the result is the number of rows changed.
  int64_t execute(std::string_view sql, const std::vector<Value>& parameters = {});

  // Runs `work` inside one transaction; an exception rolls it back and propagates.
  template <typename Work>
  auto transaction(Work&& work) {
    std::lock_guard lock(mutex_);
    execute("BEGIN IMMEDIATE");
    try {
      if constexpr (std::is_void_v<decltype(work())>) {
        work();
        execute("COMMIT");
      } else {
        auto result = work();
        execute("COMMIT");
        return result;
      }
    } catch (...) {
      execute("ROLLBACK");
      throw;
    }
  }

  // A value of the key-value table, created with `makeValue` on first use (secrets).
  template <typename Make>
  std::string setting(const std::string& key, Make&& makeValue) {
    return transaction([&] {
      if (auto row = queryOne("SELECT value FROM settings WHERE key = ?", {key})) return row->text(0);
      std::string value = makeValue();
      execute("INSERT INTO settings (key, value) VALUES (?, ?)", {key, value});
      return value;
    });
  }

 private:
  std::vector<Row> run(std::string_view sql, const std::vector<Value>& parameters, int64_t* changes);
  void migrate();
  [[noreturn]] void fail(std::string_view what);

  std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace tolvane::server
