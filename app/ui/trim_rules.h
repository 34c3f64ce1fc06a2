#pragma once

namespace tolvane {

// How the trim bar turns pointer positions into a kept range: the range never gets
// shorter than kMinimumKeptSec, and a recording whose length is not known yet still
// gets a track to draw.
class TrimRules {
 public:
  static constexpr double kMinimumKeptSec = 0.5;
  static constexpr double kShortestTrackSec = 0.1;

  // The length the track stands for.
  static double trackDuration(double durationSec);
  // Where the start handle may go: not before 0, not within the minimum of the end.
  static double clampStart(double value, double trimEnd);
  // Where the end handle may go: not past the track, not within the minimum of the start.
  static double clampEnd(double value, double trimStart, double duration);
  // The time under a pointer `x` points along a track `width` points wide.
  static double secondsAt(double x, double width, double duration);
  // Whether the range keeps the whole recording, within the margin under which the review
  // uploads it uncut: a trimmed movie's own length may differ from the range by a frame.
  static bool keepsWhole(double trimStart, double trimEnd, double duration);
};

}  // namespace tolvane
