#include "kit/annotations/annotation_stroke.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kit/annotations/annotation_decoding_error.h"
#include "kit/base/uuid.h"
#include "tests/support/thrown.h"

namespace tolvane {
namespace {

using nlohmann::json;

constexpr const char* kID = "1F3A9C2B-7D41-4E0A-9B8C-2D5E6F708192";

AnnotationStroke decode(const json& value) { return value.get<AnnotationStroke>(); }

TEST(AnnotationStrokeTest, DecodesTheDocumentedFormAndEveryToolRoundTripsUnchanged) {
  const json documented = json::parse(std::string(R"({"id":")") + kID +
                                      R"(","tool":"arrow","color":{"red":1,"green":0.384,"blue":0.314},)"
                                      R"("width":0.004,"points":[[0.2,0.3],[0.5,0.6]]})");
  EXPECT_EQ(decode(documented),
            AnnotationStroke(kID, AnnotationTool::arrow, annotation_colors::tomato, 0.004, {{0.2, 0.3}, {0.5, 0.6}}));
  EXPECT_EQ(json(decode(documented)), documented);

  std::vector<AnnotationStroke> strokes;
  for (AnnotationTool tool : kAllAnnotationTools) {
    strokes.emplace_back(tool, annotation_colors::blue, 0.0123456789012345,
                         std::vector<Point>{{0.1, 0.9}, {1.0 / 3.0, 2.0 / 3.0}, {0.0, 1.0}});
  }
  strokes.emplace_back(AnnotationTool::pen, annotation_colors::white, 0.004, std::vector<Point>{});
  EXPECT_EQ(json::parse(json(strokes).dump()).get<std::vector<AnnotationStroke>>(), strokes);
  EXPECT_TRUE(isCanonicalUUID(strokes[0].id));
  EXPECT_NE(strokes[0].id, strokes[1].id);
}

TEST(AnnotationStrokeTest, MalformedDataIsRejectedWithASentence) {
  const json valid = json::parse(std::string(R"({"id":")") + kID +
                                 R"(","tool":"pen","color":{"red":1,"green":0.5,"blue":0},"width":0.004,"points":[[0.1,0.2]]})");
  std::vector<json> bad = {json::array(), 1};
  for (const char* key : {"id", "tool", "color", "width", "points"}) {
    auto missing = valid;
    missing.erase(key);
    bad.push_back(missing);
  }
  const std::vector<std::pair<std::string, json>> replacements = {
      {"tool", "Pen"}, {"id", "not-a-uuid"}, {"width", "wide"}, {"color", {{"red", 1}, {"green", 0.5}}},
      {"points", {{0.1, 0.2, 0.3}}}, {"points", {{"0.1", 0.2}}}};
  for (const auto& [key, value] : replacements) {
    auto changed = valid;
    changed[key] = value;
    bad.push_back(changed);
  }
  for (const auto& value : bad) {
    const std::string message = testing::thrownWhat<AnnotationDecodingError>([&] { decode(value); });
    EXPECT_TRUE(message.starts_with("Tolvane couldn't read the annotations: ")) << value.dump() << ": " << message;
    EXPECT_EQ(message.back(), '.');
  }
}

}  // namespace
}  // namespace tolvane
