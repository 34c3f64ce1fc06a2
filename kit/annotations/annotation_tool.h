#pragma once

#include <array>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string_view>

namespace tolvane {

// The drawing tools of the annotation toolbar, in toolbar order.
enum class AnnotationTool { pen, highlighter, arrow, line, rectangle, ellipse, blur };

inline constexpr std::array<AnnotationTool, 7> kAllAnnotationTools = {
    AnnotationTool::pen,       AnnotationTool::highlighter, AnnotationTool::arrow, AnnotationTool::line,
    AnnotationTool::rectangle, AnnotationTool::ellipse,     AnnotationTool::blur};

// The JSON value of a tool ("pen", "highlighter", ...).
std::string_view rawValue(AnnotationTool tool);
std::optional<AnnotationTool> annotationToolFromRawValue(std::string_view raw);

// A shape is defined by its first and last point only; pen and highlighter use every point.
bool isShape(AnnotationTool tool);

// JSON: the raw value string. Decoding an unknown value throws AnnotationDecodingError.
void to_json(nlohmann::json& json, AnnotationTool tool);
void from_json(const nlohmann::json& json, AnnotationTool& tool);

}  // namespace tolvane
