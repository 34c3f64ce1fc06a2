#include "kit/annotations/annotation_stroke.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(annotationToolFromRawValue(raws[i]), tool);
    EXPECT_EQ(isShape(tool), i >= 2) << raws[i];
  }
  EXPECT_EQ(annotationToolFromRawValue("Pen"), std::nullopt);
  EXPECT_EQ(annotationToolFromRawValue(""), std::nullopt);
}

TEST(AnnotationStrokeTest, DecodesTheDocumentedForm) {
  const std::string text = std::string(R"([{"id":")") + kID +
                           R"(","tool":"arrow","color":{"red":1,"green":0.384,"blue":0.314},)"
                           R"("width":0.004,"points":[[0.2,0.3],[0.5,0.6]]}])";
  const AnnotationStroke expected(kID, AnnotationTool::arrow, annotation_colors::tomato, 0.004, {{0.2, 0.3}, {0.5, 0.6}});
  const auto strokes = AnnotationStroke::decodeList(text);
  EXPECT_EQ(strokes, std::vector{expected});
  // Keys, tool string, colour object and points as arrays survive the way back.
  EXPECT_EQ(nlohmann::json::parse(AnnotationStroke::encodeList(strokes)), nlohmann::json::parse(text));
  // Lower-case identifiers are kept in canonical form.
  std::string lower = text;
  std::transform(lower.begin() + 8, lower.begin() + 44, lower.begin() + 8, ::tolower);
  ASSERT_NE(lower, text);
  EXPECT_EQ(AnnotationStroke::decodeList(lower).at(0).id, kID);
}

TEST(AnnotationStrokeTest, EveryToolRoundTripsUnchangedWithFreshIdentifiers) {
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
  EXPECT_TRUE(isCanonicalUUID(strokes[0].id));
  EXPECT_NE(strokes[0].id, strokes[1].id);
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
