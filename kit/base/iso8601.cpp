#include "kit/base/iso8601.h"

#include <cctype>

#include <fmt/format.h>

namespace tolvane {
namespace {

bool readDigits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
  if (pos + count > text.size()) return false;
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = value * 10 + (text[i] - '0');
  }
  out = value;
  return true;
}

std::optional<Date> parse(std::string_view text, bool allowFraction) {
  // YYYY-MM-DDTHH:MM:SS
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() < 20) return std::nullopt;
  if (!readDigits(text, 0, 4, year) || text[4] != '-' || !readDigits(text, 5, 2, month) || text[7] != '-' ||
      !readDigits(text, 8, 2, day) || text[10] != 'T' || !readDigits(text, 11, 2, hour) || text[13] != ':' ||
      !readDigits(text, 14, 2, minute) || text[16] != ':' || !readDigits(text, 17, 2, second)) {
    return std::nullopt;
  }
  std::size_t pos = 19;
  std::chrono::nanoseconds fraction{0};
  if (pos < text.size() && text[pos] == '.') {
    if (!allowFraction) return std::nullopt;
    ++pos;
    std::size_t digits = 0;
    std::int64_t nanos = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      if (digits < 9) nanos = nanos * 10 + (text[pos] - '0');
      ++digits;
      ++pos;
    }
    if (digits == 0) return std::nullopt;
    for (std::size_t i = digits; i < 9; ++i) nanos *= 10;
    fraction = std::chrono::nanoseconds(nanos);
  }
  int offsetSeconds = 0;
  if (pos < text.size() && text[pos] == 'Z') {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    int oh = 0, om = 0;
    if (!readDigits(text, pos + 1, 2, oh) || pos + 3 >= text.size() || text[pos + 3] != ':' ||
        !readDigits(text, pos + 4, 2, om) || oh > 23 || om > 59) {
      return std::nullopt;
    }
    offsetSeconds = (oh * 3600 + om * 60) * (text[pos] == '-' ? -1 : 1);
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  if (month < 1 || month > 12 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                        std::chrono::day(static_cast<unsigned>(day))};
  if (!ymd.ok()) return std::nullopt;
  auto time = std::chrono::sys_days(ymd) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
              std::chrono::seconds(second) - std::chrono::seconds(offsetSeconds);
  return std::chrono::time_point_cast<Date::duration>(time + fraction);
}

}  // namespace

std::string formatISO8601(Date date) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(date);
  const auto days = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day ymd{days};
  const std::chrono::hh_mm_ss hms{seconds - days};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(ymd.year()),
                     static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), hms.hours().count(),
                     hms.minutes().count(), hms.seconds().count());
}

std::optional<Date> parseISO8601(std::string_view text) { return parse(text, false); }

std::optional<Date> parseISO8601WithFraction(std::string_view text) { return parse(text, true); }

}  // namespace tolvane
