#include "app/ui/trim_rules.h"

#include <algorithm>

#include "app/core/review_model.h"

namespace tolvane {

double TrimRules::trackDuration(double durationSec) {
  // std::max(NaN, …) would keep the NaN; a track needs a real length.
  return durationSec > kShortestTrackSec ? durationSec : kShortestTrackSec;
}

double TrimRules::clampStart(double value, double trimEnd) {
  return std::min(std::max(value, 0.0), trimEnd - kMinimumKeptSec);
}

double TrimRules::clampEnd(double value, double trimStart, double duration) {
  return std::max(std::min(value, duration), trimStart + kMinimumKeptSec);
}

double TrimRules::secondsAt(double x, double width, double duration) { return x / std::max(width, 1.0) * duration; }

bool TrimRules::keepsWhole(double trimStart, double trimEnd, double duration) {
  return trimStart <= ReviewModel::kUncutMarginSec && trimEnd >= duration - ReviewModel::kUncutMarginSec;
}

}  // namespace tolvane
