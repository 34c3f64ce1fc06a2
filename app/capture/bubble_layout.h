#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "kit/base/geometry.h"

namespace tolvane {

// Where the camera bubble sits and how large it is, independent of the video's size.
// Stored values are not clamped; rect(in:) keeps the bubble inside the frame.
struct BubbleLayout {
  // Centre in unit coordinates of the frame: x 0 at the left edge, 1 at the right;
  // y 0 at the top edge, 1 at the bottom.
  Point centre{0.12, 0.85};
  // Diameter as a fraction of the frame's shorter side.
  double diameterFraction = 0.18;

  // Bubble fractions outside this range are taken as its nearest end.
  static constexpr double kMinDiameterFraction = 0.08;
  static constexpr double kMaxDiameterFraction = 0.4;

  // The bubble's square in pixels of a frame of `frameSize`, top-left origin. The
  // diameter is a whole number of pixels; the origin may be fractional.
  Rect rect(Size frameSize) const;

  friend bool operator==(const BubbleLayout&, const BubbleLayout&) = default;

  // Thrown when a layout cannot be read back; what() is the whole sentence.
  class DecodingError : public std::runtime_error {
   public:
    explicit DecodingError(const std::string& detail)
        : std::runtime_error("Tolvane couldn't read the camera bubble layout: " + detail + ".") {}
  };

  // JSON text {"centre":[x,y],"diameterFraction":f}, both keys required.
  std::string encode() const;
  static BubbleLayout decode(std::string_view text);
};

void to_json(nlohmann::json& json, const BubbleLayout& layout);
void from_json(const nlohmann::json& json, BubbleLayout& layout);

}  // namespace tolvane
