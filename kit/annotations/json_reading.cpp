#include "kit/annotations/json_reading.h"

#include <string>

#include <nlohmann/json.hpp>

#include "kit/annotations/annotation_decoding_error.h"

namespace tolvane {

void requireObject(const nlohmann::json& json, std::string_view what) {
  if (!json.is_object()) throw AnnotationDecodingError(std::string(what) + " is not a JSON object");
}

const nlohmann::json& requireKey(const nlohmann::json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end()) throw AnnotationDecodingError("the key \"" + std::string(key) + "\" is missing");
  return *found;
}

double requireNumber(const nlohmann::json& object, std::string_view key) {
  const auto& value = requireKey(object, key);
  if (!value.is_number()) throw AnnotationDecodingError("\"" + std::string(key) + "\" is not a number");
  return value.get<double>();
}

Point readPoint(const nlohmann::json& json) {
  if (!json.is_array() || json.size() != 2 || !json[0].is_number() || !json[1].is_number()) {
    throw AnnotationDecodingError("a point is not an array of two numbers");
  }
  return {json[0].get<double>(), json[1].get<double>()};
}

nlohmann::json pointJSON(Point point) { return nlohmann::json::array({point.x, point.y}); }

}  // namespace tolvane
