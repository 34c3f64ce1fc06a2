#pragma once

#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "kit/base/geometry.h"

namespace tolvane {

// Strict readers for the annotation JSON: every key required, every value of its own
// type. They throw AnnotationDecodingError naming the offending key.
void requireObject(const nlohmann::json& json, std::string_view what);
const nlohmann::json& requireKey(const nlohmann::json& object, std::string_view key);
double requireNumber(const nlohmann::json& object, std::string_view key);
// A point as a two-element array [x, y].
Point readPoint(const nlohmann::json& json);
nlohmann::json pointJSON(Point point);

}  // namespace tolvane
