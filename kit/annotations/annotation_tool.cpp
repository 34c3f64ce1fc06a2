#include "kit/annotations/annotation_tool.h"

#include <nlohmann/json.hpp>
#include <string>

#include "kit/annotations/annotation_decoding_error.h"

namespace tolvane {
namespace {

// In enumeration order.
constexpr std::array<std::string_view, 7> kRawValues = {"pen",       "highlighter", "arrow", "line",
                                                        "rectangle", "ellipse",     "blur"};

}  // namespace

std::string_view rawValue(AnnotationTool tool) { return kRawValues[static_cast<std::size_t>(tool)]; }

std::optional<AnnotationTool> annotationToolFromRawValue(std::string_view raw) {
  for (AnnotationTool tool : kAllAnnotationTools) {
    if (rawValue(tool) == raw) return tool;
  }
  return std::nullopt;
}

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
