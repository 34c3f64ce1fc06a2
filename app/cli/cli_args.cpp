#include "app/cli/cli_args.h"

#include <charconv>
#include <cstdlib>

namespace tolvane::cli {

Args::Args(std::vector<std::string> words) : words_(std::move(words)), used_(words_.size(), false) {}

bool Args::flag(std::string_view name) {
  bool found = false;
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (!used_[i] && words_[i] == name) {
      used_[i] = true;
      found = true;
    }
  }
  return found;
}

std::optional<std::string> Args::option(std::string_view name) {
  const std::string prefix = std::string(name) + "=";
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (used_[i]) continue;
    if (words_[i] == name) {
      if (i + 1 >= words_.size() || used_[i + 1]) throw UsageError(std::string(name) + " needs a value");
      used_[i] = used_[i + 1] = true;
      return words_[i + 1];
    }
    if (words_[i].rfind(prefix, 0) == 0) {
      used_[i] = true;
      return words_[i].substr(prefix.size());
    }
  }
  return std::nullopt;
}

std::optional<std::int64_t> Args::intOption(std::string_view name, std::int64_t min, std::int64_t max) {
  auto text = option(name);
  if (!text) return std::nullopt;
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || value < min || value > max) {
    throw UsageError(std::string(name) + " takes a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max));
  }
  return value;
}

std::optional<double> Args::numberOption(std::string_view name, double min, double max) {
  auto text = option(name);
  if (!text) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text->c_str(), &end);
  if (text->empty() || end != text->c_str() + text->size() || !(value >= min && value <= max)) {
    throw UsageError(std::string(name) + " takes a number from " + std::to_string(min) + " to " +
                     std::to_string(max));
  }
  return value;
}

std::optional<std::string> Args::optionalPositional() {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (used_[i]) continue;
    if (words_[i].size() > 1 && words_[i][0] == '-' && words_[i] != "--") return std::nullopt;
    used_[i] = true;
    return words_[i];
  }
  return std::nullopt;
}

std::string Args::positional(std::string_view what) {
  auto word = optionalPositional();
  if (!word) throw UsageError("missing " + std::string(what));
  return *word;
}

void Args::finish() const {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (!used_[i]) throw UsageError("unexpected argument '" + words_[i] + "'");
  }
}

}  // namespace tolvane::cli
