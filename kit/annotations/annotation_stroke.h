#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "kit/annotations/annotation_color.h"
#include "kit/annotations/annotation_tool.h"
#include "kit/base/geometry.h"

namespace tolvane {

// One drawn stroke. Coordinates are resolution-independent: points are fractions of the
// picture (x from the left edge, y from the top edge) and `width` is a fraction of the
// picture's shorter side, so the same strokes render correctly at any video size.
struct AnnotationStroke {
  std::string id;  // canonical upper-case UUID
  AnnotationTool tool = AnnotationTool::pen;
  AnnotationColor color;
  double width = 0;
  std::vector<Point> points;

  // A stroke with a fresh random identity.
  AnnotationStroke(AnnotationTool tool, AnnotationColor color, double width, std::vector<Point> points);
  AnnotationStroke(std::string id, AnnotationTool tool, AnnotationColor color, double width, std::vector<Point> points);
  AnnotationStroke() = default;

  // Opacity of the whole stroke: the highlighter is translucent, everything else opaque.
  double alpha() const { return tool == AnnotationTool::highlighter ? 0.38 : 1.0; }

  friend bool operator==(const AnnotationStroke&, const AnnotationStroke&) = default;
};

// JSON: {"id": UUID, "tool": raw value, "color": {...}, "width": number,
//        "points": [[x, y], ...]}, every key required.
void to_json(nlohmann::json& json, const AnnotationStroke& stroke);
void from_json(const nlohmann::json& json, AnnotationStroke& stroke);

}  // namespace tolvane
