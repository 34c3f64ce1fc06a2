#include "kit/base/format.h"

#include <array>
#include <cmath>
#include <cstdio>

#include <fmt/format.h>

namespace tolvane {
namespace {

std::string trimmedDecimal(double value, int decimals) {
  std::string text = fmt::format("{:.{}f}", value, decimals);
  if (text.find('.') == std::string::npos) return text;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

std::string formatByteCount(std::int64_t bytes) {
  if (bytes == 0) return "Zero KB";
  const bool negative = bytes < 0;
  const double magnitude = std::fabs(static_cast<double>(bytes));
  const std::string sign = negative ? "-" : "";
  if (magnitude < 1000) {
    return sign + fmt::format("{} {}", static_cast<std::int64_t>(magnitude), magnitude == 1 ? "byte" : "bytes");
  }
  static constexpr std::array<const char*, 6> units{"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = magnitude / 1000.0;
  std::size_t unit = 0;
  // Move up a unit when rounding at this unit's precision would print 1000 or more.
  auto decimalsFor = [](std::size_t u) { return u == 0 ? 0 : (u == 1 ? 1 : 2); };
  while (unit + 1 < units.size()) {
    const double scale = std::pow(10.0, decimalsFor(unit));
    if (std::round(value * scale) / scale < 1000.0) break;
    value /= 1000.0;
    ++unit;
  }
  return sign + trimmedDecimal(value, decimalsFor(unit)) + " " + units[unit];
}

std::string formatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "0:00";
  const auto total = static_cast<std::int64_t>(std::round(seconds));
  const std::int64_t hours = total / 3600;
  const std::int64_t minutes = (total % 3600) / 60;
  const std::int64_t secs = total % 60;
  if (total < 3600) return fmt::format("{}:{:02}", total / 60, secs);
  return fmt::format("{}:{:02}:{:02}", hours, minutes, secs);
}

}  // namespace tolvane
