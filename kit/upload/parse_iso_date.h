#pragma once

#include <optional>
#include <string_view>

#include "kit/base/iso8601.h"

namespace tolvane {

// An internet date-time such as "2026-03-05T14:07:09Z" or "2026-03-05T14:07:09.123Z"
// (with or without a fraction of a second, "Z" or a numeric offset); none for anything
// else, a bare date included.
std::optional<Date> parseISODate(std::string_view text);

}  // namespace tolvane
