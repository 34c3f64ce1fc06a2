#include "app/overlays/stroke_draft.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

constexpr AnnotationColor kTomato = annotation_colors::tomato;

TEST(StrokeDraftTest, AClickLeavesATwoPointStrokeOfTheActiveChoices) {
  StrokeDraft draft;
  EXPECT_EQ(draft.finish(), std::nullopt) << "no drag, no stroke";
  draft.extend({0.3, 0.4}, AnnotationTool::highlighter, kTomato, 0.004);
  const std::optional<AnnotationStroke> dot = draft.finish();
  ASSERT_TRUE(dot);
  EXPECT_EQ(dot->points, (std::vector<Point>{{0.3, 0.4}, {0.3, 0.4}}));
  EXPECT_EQ(dot->tool, AnnotationTool::highlighter);
  EXPECT_EQ(dot->color, kTomato);
  EXPECT_DOUBLE_EQ(dot->width, 0.004);
  EXPECT_FALSE(draft.stroke()) << "finishing clears the draft";

  // Each drag is a stroke of its own.
  draft.extend({0.1, 0.1}, AnnotationTool::pen, kTomato, 0.004);
  const std::optional<AnnotationStroke> next = draft.finish();
  ASSERT_TRUE(next);
  EXPECT_NE(next->id, dot->id);
}

TEST(StrokeDraftTest, FreehandKeepsEveryPointAndShapesOnlyTheEnds) {
  const std::vector<Point> path = {{0.1, 0.1}, {0.2, 0.3}, {0.4, 0.2}, {0.6, 0.6}};
  for (AnnotationTool tool : kAllAnnotationTools) {
    StrokeDraft draft;
    for (const Point& p : path) draft.extend(p, tool, kTomato, 0.004);
    const std::vector<Point> expected =
        isShape(tool) ? std::vector<Point>{path.front(), path.back()} : std::vector<Point>{path.front(), path.front(), path[1], path[2], path[3]};
    EXPECT_EQ(draft.stroke()->points, expected) << rawValue(tool);
  }
}

TEST(StrokeDraftTest, ChoicesMadeMidDragApplyToTheNextStroke) {
  StrokeDraft draft;
  draft.extend({0.1, 0.1}, AnnotationTool::line, kTomato, 0.004);
  // The toolbar changed tool, colour and width while the pointer was down.
  draft.extend({0.2, 0.2}, AnnotationTool::pen, annotation_colors::blue, 0.01);
  draft.extend({0.3, 0.5}, AnnotationTool::pen, annotation_colors::blue, 0.01);
  const std::optional<AnnotationStroke> line = draft.finish();
  ASSERT_TRUE(line);
  EXPECT_EQ(line->tool, AnnotationTool::line);
  EXPECT_EQ(line->color, kTomato);
  EXPECT_DOUBLE_EQ(line->width, 0.004);
  EXPECT_EQ(line->points, (std::vector<Point>{{0.1, 0.1}, {0.3, 0.5}}));

  draft.extend({0.5, 0.5}, AnnotationTool::pen, annotation_colors::blue, 0.01);
  draft.cancel();
  EXPECT_EQ(draft.finish(), std::nullopt) << "a cancelled drag leaves nothing";
}

}  // namespace
}  // namespace tolvane
