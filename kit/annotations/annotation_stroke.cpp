#include "kit/annotations/annotation_stroke.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "kit/annotations/annotation_decoding_error.h"
#include "kit/annotations/json_reading.h"
#include "kit/base/uuid.h"

namespace tolvane {

AnnotationStroke::AnnotationStroke(AnnotationTool tool_, AnnotationColor color_, double width_,
                                   std::vector<Point> points_)
    : AnnotationStroke(makeUUID(), tool_, color_, width_, std::move(points_)) {}

AnnotationStroke::AnnotationStroke(std::string id_, AnnotationTool tool_, AnnotationColor color_, double width_,
                                   std::vector<Point> points_)
    : id(std::move(id_)), tool(tool_), color(color_), width(width_), points(std::move(points_)) {}

void to_json(nlohmann::json& json, const AnnotationStroke& stroke) {
  auto points = nlohmann::json::array();
  for (const Point& point : stroke.points) points.push_back(pointJSON(point));
  json = nlohmann::json{{"id", stroke.id},
                        {"tool", stroke.tool},
                        {"color", stroke.color},
                        {"width", stroke.width},
                        {"points", std::move(points)}};
}

void from_json(const nlohmann::json& json, AnnotationStroke& stroke) {
  requireObject(json, "a stroke");
  const auto& id = requireKey(json, "id");
  if (!id.is_string() || !isCanonicalUUID(id.get_ref<const std::string&>())) {
    throw AnnotationDecodingError("a stroke's \"id\" is not a UUID");
  }
  // Identifiers are compared as text elsewhere; keep the one canonical (upper-case) form.
  std::string canonical = id.get<std::string>();
  std::transform(canonical.begin(), canonical.end(), canonical.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

  AnnotationTool tool{};
  from_json(requireKey(json, "tool"), tool);
  AnnotationColor color;
  from_json(requireKey(json, "color"), color);
  const double width = requireNumber(json, "width");
  const auto& pointsJSON = requireKey(json, "points");
  if (!pointsJSON.is_array()) throw AnnotationDecodingError("\"points\" is not an array");
  std::vector<Point> points;
  points.reserve(pointsJSON.size());
  for (const auto& point : pointsJSON) points.push_back(readPoint(point));

  stroke = AnnotationStroke(std::move(canonical), tool, color, width, std::move(points));
}

}  // namespace tolvane
