#include "app/cli/cli_vault.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "kit/config/config.h"

namespace tolvane::cli {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
  });
}

}  // namespace

std::unique_ptr<RecordingVault> openVault() {
  auto vault = std::make_unique<RecordingVault>(Config::vaultDirectory());
  std::error_code error;
  if (!std::filesystem::is_directory(vault->root(), error)) {
    throw std::runtime_error(fmt::format("Tolvane could not open the vault at {}.", vault->root().string()));
  }
  return vault;
}

VaultItem findRecording(RecordingVault& vault, std::string_view idOrPrefix) {
  auto items = vault.all();
  std::vector<VaultItem> matches;
  for (auto& item : items) {
    if (item.id() == idOrPrefix) return item;
    if (!idOrPrefix.empty() && startsWithIgnoringCase(item.id(), idOrPrefix)) matches.push_back(std::move(item));
  }
  if (matches.size() == 1) return std::move(matches.front());
  if (matches.empty()) throw std::runtime_error(fmt::format("No recording with the id {} is in the vault.", idOrPrefix));
  throw std::runtime_error(fmt::format("The id {} matches {} recordings; give more of it.", idOrPrefix, matches.size()));
}

}  // namespace tolvane::cli
