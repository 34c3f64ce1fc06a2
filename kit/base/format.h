#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

// A byte count the way file sizes are shown to users: decimal units (1 KB = 1,000
// bytes), "Zero KB" for nothing, whole kilobytes, one decimal for megabytes and two
// for larger units with trailing zeros dropped: "999 bytes", "12 KB", "1.5 MB", "1.53 GB".
std::string formatByteCount(std::int64_t bytes);

// Seconds as shown everywhere in the interface: rounded to the nearest second (halves
// away from zero), "m:ss" below an hour, "h:mm:ss" from an hour on; a negative or
// non-finite value gives "0:00".
std::string formatDuration(double seconds);

}  // namespace tolvane
