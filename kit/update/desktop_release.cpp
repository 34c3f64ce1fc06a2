#include "kit/update/desktop_release.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "kit/net/json_fields.h"

namespace tolvane {
namespace {

std::int64_t pieceValue(std::string_view piece) {
  if (piece.starts_with('+')) piece.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
  if (error != std::errc() || end != piece.data() + piece.size()) return 0;
  return value;
}

std::vector<std::int64_t> versionNumbers(std::string_view version) {
  std::vector<std::int64_t> numbers;
  while (!version.empty()) {
    const auto dot = version.find('.');
    const auto piece = version.substr(0, dot);
    if (!piece.empty()) numbers.push_back(pieceValue(piece));
    if (dot == std::string_view::npos) break;
    version.remove_prefix(dot + 1);
  }
  return numbers;
}

}  // namespace

bool DesktopRelease::isNewer(std::string_view than) const {
  const auto mine = versionNumbers(version);
  const auto theirs = versionNumbers(than);
  for (std::size_t i = 0; i < std::max(mine.size(), theirs.size()); ++i) {
    const std::int64_t a = i < mine.size() ? mine[i] : 0;
    const std::int64_t b = i < theirs.size() ? theirs[i] : 0;
    if (a != b) return a > b;
  }
  return false;
}

DesktopRelease DesktopRelease::fromJSON(const nlohmann::json& object) {
  return {.version = json::requireString(object, "version"),
          .available = json::requireBool(object, "available"),
          .downloadUrl = json::requireString(object, "downloadUrl"),
          .pageUrl = json::requireString(object, "pageUrl")};
}

}  // namespace tolvane
