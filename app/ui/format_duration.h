#pragma once

#include <QString>

namespace tolvane {

// Every duration the interface shows: seconds rounded to the nearest whole second
// (halves away from zero) as "m:ss", or "h:mm:ss" from an hour on; a negative or
// non-finite input shows "0:00".
QString formatDuration(double seconds);

}  // namespace tolvane
