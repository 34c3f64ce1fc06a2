#pragma once

#include <string>
#include <string_view>

#include "kit/base/iso8601.h"

namespace tolvane {

// The ICU locale id of the user's date formats: the first of LC_ALL, LC_TIME and LANG
// that is set, without codeset or modifier ("de_DE.UTF-8@euro" gives "de_DE");
// "en_US_POSIX" for the C/POSIX locale or none.
std::string userDateLocale();

// `date` in the local time zone, formatted with an ICU (CLDR) pattern such as
// "MMM d, h:mm a" for the locale `localeID`.
std::string formatLocalDate(Date date, std::string_view pattern, const std::string& localeID);

}  // namespace tolvane
