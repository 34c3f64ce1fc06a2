#include "kit/annotations/annotation_tool.h"

#include <string>

#include <nlohmann/json.hpp>

#include "kit/annotations/annotation_decoding_error.h"

namespace tolvane {
namespace {

struct ToolInfo {
  std::string_view raw;
  std::string_view label;
  std::string_view symbol;
};

const ToolInfo& info(AnnotationTool tool) {
  static constexpr std::array<ToolInfo, 7> kInfo = {{
      {"pen", "Pen", "draw-freehand"},
      {"highlighter", "Highlighter", "draw-highlight"},
      {"arrow", "Arrow", "draw-arrow"},
      {"line", "Line", "draw-line"},
      {"rectangle", "Rectangle", "draw-rectangle"},
      {"ellipse", "Ellipse", "draw-ellipse"},
      // Blur hides what is below it; the "hide" icon says so better than any blur glyph.
      {"blur", "Blur", "view-hidden"},
  }};
  return kInfo[static_cast<std::size_t>(tool)];
}

}  // namespace

std::string_view rawValue(AnnotationTool tool) { return info(tool).raw; }

std::optional<AnnotationTool> annotationToolFromRawValue(std::string_view raw) {
  for (AnnotationTool tool : kAllAnnotationTools) {
    if (info(tool).raw == raw) return tool;
  }
  return std::nullopt;
}

std::string_view label(AnnotationTool tool) { return info(tool).label; }

std::string_view symbolName(AnnotationTool tool) { return info(tool).symbol; }

bool isShape(AnnotationTool tool) { return tool != AnnotationTool::pen && tool != AnnotationTool::highlighter; }

void to_json(nlohmann::json& json, AnnotationTool tool) { json = std::string(rawValue(tool)); }

void from_json(const nlohmann::json& json, AnnotationTool& tool) {
  if (!json.is_string()) throw AnnotationDecodingError("a tool is not a string");
  const auto& text = json.get_ref<const std::string&>();
  const auto parsed = annotationToolFromRawValue(text);
  if (!parsed) throw AnnotationDecodingError("\"" + text + "\" is not a drawing tool");
  tool = *parsed;
}

}  // namespace tolvane
