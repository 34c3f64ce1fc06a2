#include "app/capture/bubble_layout.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace tolvane {

Rect BubbleLayout::rect(Size frameSize) const {
  const double shorterSide = std::min(frameSize.width, frameSize.height);
  const double fraction =
      std::isnan(diameterFraction) ? kMinDiameterFraction
                                   : std::clamp(diameterFraction, kMinDiameterFraction, kMaxDiameterFraction);
  const double diameter = std::round(fraction * shorterSide);  // halves away from zero
  const double radius = diameter * 0.5;
  // max then min rather than clamp: a frame narrower than the bubble must not assert.
  const double x = std::min(std::max(frameSize.width * centre.x, radius), frameSize.width - radius);
  const double y = std::min(std::max(frameSize.height * centre.y, radius), frameSize.height - radius);
  return {x - radius, y - radius, diameter, diameter};
}

void to_json(nlohmann::json& json, const BubbleLayout& layout) {
  json = nlohmann::json{{"centre", nlohmann::json::array({layout.centre.x, layout.centre.y})},
                        {"diameterFraction", layout.diameterFraction}};
}

void from_json(const nlohmann::json& json, BubbleLayout& layout) {
  using DecodingError = BubbleLayout::DecodingError;
  if (!json.is_object()) throw DecodingError("it is not a JSON object");
  const auto centre = json.find("centre");
  if (centre == json.end()) throw DecodingError("the key \"centre\" is missing");
  if (!centre->is_array() || centre->size() != 2 || !(*centre)[0].is_number() || !(*centre)[1].is_number()) {
    throw DecodingError("\"centre\" is not an array of two numbers");
  }
  const auto fraction = json.find("diameterFraction");
  if (fraction == json.end()) throw DecodingError("the key \"diameterFraction\" is missing");
  if (!fraction->is_number()) throw DecodingError("\"diameterFraction\" is not a number");
  layout.centre = {(*centre)[0].get<double>(), (*centre)[1].get<double>()};
  layout.diameterFraction = fraction->get<double>();
}

std::string BubbleLayout::encode() const { return nlohmann::json(*this).dump(); }

BubbleLayout BubbleLayout::decode(std::string_view text) {
  const auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) throw DecodingError("the text is not valid JSON");
  return json.get<BubbleLayout>();
}

}  // namespace tolvane
