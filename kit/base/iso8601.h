#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

using Date = std::chrono::system_clock::time_point;

// "2026-03-05T14:07:09Z": UTC, whole seconds (any fraction is truncated).
std::string formatISO8601(Date date);

// Accepts exactly the form formatISO8601 writes ("YYYY-MM-DDTHH:MM:SSZ", or a numeric
// offset such as "+02:00" in place of "Z"); a fraction of a second or any other layout
// gives none.
std::optional<Date> parseISO8601(std::string_view text);

// Like parseISO8601, but also accepts a fraction of a second ("…:09.123Z").
std::optional<Date> parseISO8601WithFraction(std::string_view text);

}  // namespace tolvane
