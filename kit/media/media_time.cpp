#include "kit/media/media_time.h"

#include <cmath>
#include <limits>

namespace tolvane {
namespace {

// 128-bit products keep value × timescale exact for every 64-bit value.
__extension__ using Wide = __int128;

}  // namespace

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t timescale) {
  if (timescale < 1 || !std::isfinite(seconds)) return invalid();
  const double ticks = std::round(seconds * timescale);
  if (std::fabs(ticks) >= 9.2e18) return invalid();
  return MediaTime{static_cast<std::int64_t>(ticks), timescale};
}

double MediaTime::seconds() const {
  if (!isValid()) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(value) / timescale;
}

MediaTime MediaTime::convertedTo(std::int32_t newTimescale) const {
  if (!isValid() || newTimescale < 1) return invalid();
  if (newTimescale == timescale) return *this;
  // value × new / old, rounded half away from zero, in 128 bits so nothing overflows.
  const Wide scaled = static_cast<Wide>(value) * newTimescale;
  const Wide half = timescale / 2;
  const Wide rounded = scaled >= 0 ? (scaled + half) / timescale : (scaled - half) / timescale;
  return MediaTime{static_cast<std::int64_t>(rounded), newTimescale};
}

std::strong_ordering MediaTime::operator<=>(const MediaTime& other) const {
  if (!isValid() || !other.isValid()) return isValid() <=> other.isValid();
  const Wide lhs = static_cast<Wide>(value) * other.timescale;
  const Wide rhs = static_cast<Wide>(other.value) * timescale;
  return lhs <=> rhs;
}

}  // namespace tolvane
