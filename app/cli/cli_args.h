#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::cli {

// A mistake in how the command was called: exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The words after a command's name. Each accessor consumes what it reads; `finish()`
// rejects whatever is left, so a misspelt option is a usage error, not ignored.
class Args {
 public:
  explicit Args(std::vector<std::string> words);

  // "--json": present or not.
  bool flag(std::string_view name);
  // "--limit 5" or "--limit=5".
  std::optional<std::string> option(std::string_view name);
  std::optional<std::int64_t> intOption(std::string_view name, std::int64_t min, std::int64_t max);
  std::optional<double> numberOption(std::string_view name, double min, double max);
  // The next word that is not an option; `what` names it in the usage error.
  std::string positional(std::string_view what);
  std::optional<std::string> optionalPositional();
  void finish() const;

 private:
  std::vector<std::string> words_;
  std::vector<bool> used_;
};

}  // namespace tolvane::cli
