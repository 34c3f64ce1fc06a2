#pragma once

#include <compare>
#include <cstdint>

namespace tolvane {

// A point or span on a media timeline: `value` ticks of 1/`timescale` second. Exact for
// the timescales media uses (600 for video times, the sample rate for audio), so times
// that were built from frame counts compare and subtract without rounding.
struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;  // 0 marks an invalid time

  static constexpr MediaTime zero() { return MediaTime{0, 1}; }
  static constexpr MediaTime invalid() { return MediaTime{0, 0}; }
  // The nearest tick to `seconds` (halves away from zero); invalid for a timescale
  // below 1 or for seconds that are not finite.
  static MediaTime fromSeconds(double seconds, std::int32_t timescale);

  constexpr bool isValid() const { return timescale > 0; }
  double seconds() const;
  // The same time at another timescale, rounded to the nearest tick.
  MediaTime convertedTo(std::int32_t newTimescale) const;

  // Compares exactly (cross-multiplied); invalid times order before every valid one.
  std::strong_ordering operator<=>(const MediaTime& other) const;
  bool operator==(const MediaTime& other) const { return (*this <=> other) == 0; }
};

}  // namespace tolvane
