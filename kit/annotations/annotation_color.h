#pragma once

#include <array>
#include <cstddef>

#include <nlohmann/json_fwd.hpp>

namespace tolvane {

// An opaque stroke colour, each component in 0...1.
struct AnnotationColor {
  double red = 0;
  double green = 0;
  double blue = 0;

  friend bool operator==(const AnnotationColor&, const AnnotationColor&) = default;
};

// The named colours of the toolbar and the palette that lists them in toolbar order.
// (A namespace rather than static members: `green` and `blue` are already field names.)
namespace annotation_colors {
inline constexpr AnnotationColor tomato{1.0, 0.384, 0.314};
inline constexpr AnnotationColor yellow{1.0, 0.84, 0.2};
inline constexpr AnnotationColor green{0.24, 0.78, 0.45};
inline constexpr AnnotationColor blue{0.24, 0.55, 0.98};
inline constexpr AnnotationColor white{1.0, 1.0, 1.0};
inline constexpr std::array<AnnotationColor, 5> palette{tomato, yellow, green, blue, white};
}  // namespace annotation_colors

struct AnnotationColorHash {
  std::size_t operator()(const AnnotationColor& color) const;
};

// JSON: {"red": r, "green": g, "blue": b}, every key required.
void to_json(nlohmann::json& json, const AnnotationColor& color);
void from_json(const nlohmann::json& json, AnnotationColor& color);

}  // namespace tolvane
