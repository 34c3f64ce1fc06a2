#include "kit/vault/local_date_format.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <cstdlib>

namespace tolvane {

std::string userDateLocale() {
  std::string name;
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return "en_US_POSIX";
  return name;
}

std::string formatLocalDate(Date date, std::string_view pattern, const std::string& localeID) {
  UErrorCode status = U_ZERO_ERROR;
  // The formatter takes ICU's default time zone: TZ, else /etc/localtime.
  icu::SimpleDateFormat format(icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(),
                                                                             static_cast<int32_t>(pattern.size()))),
                               icu::Locale(localeID.c_str()), status);
  if (U_FAILURE(status)) return {};
  const auto millis = std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch()).count();
  icu::UnicodeString text;
  format.format(static_cast<UDate>(millis), text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace tolvane
