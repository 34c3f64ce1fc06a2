#include "kit/annotations/annotation_stroke.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kit/annotations/annotation_decoding_error.h"
#include "kit/base/uuid.h"

namespace tolvane {
namespace {

constexpr const char* kID = "1F3A9C2B-7D41-4E0A-9B8C-2D5E6F708192";

TEST(AnnotationToolTest, RawValuesLabelsAndShapes) {
  const char* raws[] = {"pen", "highlighter", "arrow", "line", "rectangle", "ellipse", "blur"};
  const char* labels[] = {"Pen", "Highlighter", "Arrow", "Line", "Rectangle", "Ellipse", "Blur"};
  for (std::size_t i = 0; i < kAllAnnotationTools.size(); ++i) {
    const AnnotationTool tool = kAllAnnotationTools[i];
    EXPECT_EQ(rawValue(tool), raws[i]);
    EXPECT_EQ(label(tool), labels[i]);
    EXPECT_FALSE(symbolName(tool).empty());
    EXPECT_EQ(annotationToolFromRawValue(raws[i]), tool);
    EXPECT_EQ(isShape(tool), i >= 2) << raws[i];
  }
  EXPECT_EQ(annotationToolFromRawValue("Pen"), std::nullopt);
  EXPECT_EQ(annotationToolFromRawValue(""), std::nullopt);
}

TEST(AnnotationColorTest, PaletteInToolbarOrder) {
  const auto& palette = annotation_colors::palette;
  ASSERT_EQ(palette.size(), 5u);
  EXPECT_EQ(palette[0], (AnnotationColor{1.0, 0.384, 0.314}));
  EXPECT_EQ(palette[1], (AnnotationColor{1.0, 0.84, 0.2}));
  EXPECT_EQ(palette[2], (AnnotationColor{0.24, 0.78, 0.45}));
  EXPECT_EQ(palette[3], (AnnotationColor{0.24, 0.55, 0.98}));
  EXPECT_EQ(palette[4], (AnnotationColor{1.0, 1.0, 1.0}));
  EXPECT_NE(AnnotationColorHash{}(annotation_colors::tomato), AnnotationColorHash{}(annotation_colors::yellow));
}

TEST(AnnotationStrokeTest, NewStrokesGetAFreshUUIDAndOnlyTheHighlighterIsTranslucent) {
  const AnnotationStroke a(AnnotationTool::pen, annotation_colors::tomato, 0.004, {{0.1, 0.2}});
  const AnnotationStroke b(AnnotationTool::highlighter, annotation_colors::tomato, 0.004, {{0.1, 0.2}});
  EXPECT_TRUE(isCanonicalUUID(a.id));
  EXPECT_NE(a.id, b.id);
  EXPECT_DOUBLE_EQ(a.alpha(), 1.0);
  EXPECT_DOUBLE_EQ(b.alpha(), 0.38);
  for (AnnotationTool tool : kAllAnnotationTools) {
    if (tool == AnnotationTool::highlighter) continue;
    EXPECT_DOUBLE_EQ(AnnotationStroke(tool, {}, 0.01, {}).alpha(), 1.0);
  }
}

TEST(AnnotationStrokeTest, DecodesTheDocumentedForm) {
  const std::string text = std::string(R"([{"id":")") + kID +
                           R"(","tool":"arrow","color":{"red":1,"green":0.384,"blue":0.314},)"
                           R"("width":0.004,"points":[[0.2,0.3],[0.5,0.6]]}])";
  const auto strokes = AnnotationStroke::decodeList(text);
  ASSERT_EQ(strokes.size(), 1u);
  EXPECT_EQ(strokes[0].id, kID);
  EXPECT_EQ(strokes[0].tool, AnnotationTool::arrow);
  EXPECT_EQ(strokes[0].color, annotation_colors::tomato);
  EXPECT_DOUBLE_EQ(strokes[0].width, 0.004);
  EXPECT_EQ(strokes[0].points, (std::vector<Point>{{0.2, 0.3}, {0.5, 0.6}}));
  // Keys, tool string, colour object and points as arrays survive the way back.
  const auto json = nlohmann::json::parse(AnnotationStroke::encodeList(strokes));
  EXPECT_EQ(json, nlohmann::json::parse(text));
}

TEST(AnnotationStrokeTest, EveryToolRoundTripsUnchanged) {
  std::vector<AnnotationStroke> strokes;
  for (AnnotationTool tool : kAllAnnotationTools) {
    strokes.emplace_back(tool, annotation_colors::blue, 0.0123456789012345,
                         std::vector<Point>{{0.1, 0.9}, {1.0 / 3.0, 2.0 / 3.0}, {0.0, 1.0}});
  }
  strokes.emplace_back(AnnotationTool::pen, annotation_colors::white, 0.004, std::vector<Point>{});
  const std::string text = AnnotationStroke::encodeList(strokes);
  const auto decoded = AnnotationStroke::decodeList(text);
  EXPECT_EQ(decoded, strokes);
  EXPECT_EQ(AnnotationStroke::encodeList(decoded), text);
}

TEST(AnnotationStrokeTest, LowerCaseIdentifiersAreKeptInCanonicalForm) {
  const auto strokes = AnnotationStroke::decodeList(
      R"([{"id":"1f3a9c2b-7d41-4e0a-9b8c-2d5e6f708192","tool":"pen","color":{"red":0,"green":0,"blue":0},)"
      R"("width":0.004,"points":[]}])");
  EXPECT_EQ(strokes.at(0).id, kID);
}

TEST(AnnotationStrokeTest, MalformedDataIsRejectedWithASentence) {
  const nlohmann::json valid = {{"id", kID},
                                {"tool", "pen"},
                                {"color", {{"red", 1}, {"green", 0.5}, {"blue", 0}}},
                                {"width", 0.004},
                                {"points", nlohmann::json::array({nlohmann::json::array({0.1, 0.2})})}};
  std::vector<std::string> bad = {"", "not json", "{", "{}", "[1]", "[null]", R"([{"id":1}])"};
  for (const char* key : {"id", "tool", "color", "width", "points"}) {
    auto missing = valid;
    missing.erase(key);
    bad.push_back(nlohmann::json::array({missing}).dump());
  }
  const std::vector<std::pair<std::string, nlohmann::json>> replacements = {
      {"tool", "crayon"},
      {"tool", 3},
      {"id", "not-a-uuid"},
      {"width", "wide"},
      {"color", {{"red", 1}, {"green", 0.5}}},
      {"color", {1, 0.5, 0}},
      {"points", {{0.1, 0.2, 0.3}}},
      {"points", {{0.1}}},
      {"points", {{{"x", 0.1}, {"y", 0.2}}}},
      {"points", {{"0.1", 0.2}}},
      {"points", "none"},
  };
  for (const auto& [key, value] : replacements) {
    auto changed = valid;
    changed[key] = value;
    bad.push_back(nlohmann::json::array({changed}).dump());
  }
  for (const auto& text : bad) {
    try {
      AnnotationStroke::decodeList(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const AnnotationDecodingError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("Tolvane couldn't read the annotations: ", 0), 0u) << message;
      EXPECT_EQ(message.back(), '.');
    }
  }
  EXPECT_NO_THROW(AnnotationStroke::decodeList(nlohmann::json::array({valid}).dump()));
}

}  // namespace
}  // namespace tolvane
