#include "kit/annotations/annotation_color.h"

#include <functional>

#include <nlohmann/json.hpp>

#include "kit/annotations/json_reading.h"

namespace tolvane {

std::size_t AnnotationColorHash::operator()(const AnnotationColor& color) const {
  std::hash<double> hash;
  std::size_t seed = hash(color.red);
  seed ^= hash(color.green) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  seed ^= hash(color.blue) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  return seed;
}

void to_json(nlohmann::json& json, const AnnotationColor& color) {
  json = nlohmann::json{{"red", color.red}, {"green", color.green}, {"blue", color.blue}};
}

void from_json(const nlohmann::json& json, AnnotationColor& color) {
  requireObject(json, "a colour");
  color.red = requireNumber(json, "red");
  color.green = requireNumber(json, "green");
  color.blue = requireNumber(json, "blue");
}

}  // namespace tolvane
