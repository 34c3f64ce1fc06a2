#include "kit/base/relative_date_format.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>
#include <cstdint>

namespace tolvane {

std::string formatRelativeDate(Date date, Date now, const std::string& localeID) {
  UErrorCode status = U_ZERO_ERROR;
  icu::RelativeDateTimeFormatter formatter(icu::Locale(localeID.c_str()), nullptr, UDAT_STYLE_SHORT,
                                           UDISPCTX_CAPITALIZATION_NONE, status);
  if (U_FAILURE(status)) return {};

  const std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(date - now).count();
  const std::int64_t magnitude = seconds < 0 ? -seconds : seconds;
  const double sign = seconds < 0 ? -1.0 : 1.0;
  constexpr std::int64_t minute = 60, hour = 3600, day = 86400;

  icu::UnicodeString text;
  if (magnitude < minute) {
    formatter.format(UDAT_DIRECTION_PLAIN, UDAT_ABSOLUTE_NOW, text, status);
  } else {
    struct Step {
      std::int64_t below;  // the unit applies to spans shorter than this
      std::int64_t length;
      URelativeDateTimeUnit unit;
    };
    static constexpr Step steps[] = {
        {hour, minute, UDAT_REL_UNIT_MINUTE},       {day, hour, UDAT_REL_UNIT_HOUR},
        {7 * day, day, UDAT_REL_UNIT_DAY},          {30 * day, 7 * day, UDAT_REL_UNIT_WEEK},
        {365 * day, 30 * day, UDAT_REL_UNIT_MONTH}, {INT64_MAX, 365 * day, UDAT_REL_UNIT_YEAR}};
    for (const Step& step : steps) {
      if (magnitude >= step.below) continue;
      // format() rather than formatNumeric(): one day back is "yesterday", which reads
      // better than "1 day ago".
      formatter.format(sign * double(magnitude / step.length), step.unit, text, status);
      break;
    }
  }
  if (U_FAILURE(status)) return {};
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace tolvane
