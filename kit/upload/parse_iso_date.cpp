#include "kit/upload/parse_iso_date.h"

namespace tolvane {

std::optional<Date> parseISODate(std::string_view text) {
  if (auto withFraction = parseISO8601WithFraction(text)) return withFraction;
  return parseISO8601(text);
}

}  // namespace tolvane
