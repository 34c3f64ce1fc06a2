#pragma once

#include <string>

#include "kit/base/iso8601.h"

namespace tolvane {

// How long ago `date` was, seen from `now`, as a short phrase in the locale `localeID`
// (an ICU locale id such as "en_US" or "de_DE"): "now", "12 min. ago", "3 hr. ago",
// "yesterday", "4 days ago", "2 wk. ago", "last mo.", "3 yr. ago". The largest unit
// that fits is used and the count is truncated, so 47 hours is "yesterday" and not
// "2 days ago". A date after `now` (another machine's clock) reads "in 5 min.".
// Empty when ICU cannot make a formatter for the locale.
std::string formatRelativeDate(Date date, Date now, const std::string& localeID);

}  // namespace tolvane
