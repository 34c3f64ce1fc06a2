#include "app/overlays/overlay_geometry.h"

#include <gtest/gtest.h>

namespace tolvane::overlay_geometry {
namespace {

using Kind = TargetDescription::Kind;

// Two side-by-side monitors, the second one larger and primary.
const std::vector<ScreenSlot> kScreens = {
    {QStringLiteral("DP-1"), QRect(0, 0, 1920, 1080)},
    {QStringLiteral("HDMI-1"), QRect(1920, 0, 2560, 1440)},
};

TEST(OverlayGeometryTest, TargetScreenFollowsTheRecordedDisplayOrMostOfTheWindow) {
  struct Case {
    const char* what;
    TargetDescription target;
    std::optional<std::size_t> expected;
  };
  const Case cases[] = {
      {"nothing selected", {}, 1},
      {"display by monitor name", {Kind::display, QStringLiteral("DP-1"), QSize(1, 1), {}}, 0},
      {"display by its unique size", {Kind::display, QString(), QSize(1920, 1080), {}}, 0},
      {"display that matches nothing", {Kind::display, QStringLiteral("VGA-9"), QSize(800, 600), {}}, 1},
      // 200 px on the first screen, 600 px on the second.
      {"window mostly on the second", {Kind::window, {}, {}, QRect(1720, 100, 800, 500)}, 1},
      {"window mostly on the first", {Kind::window, {}, {}, QRect(1300, 100, 800, 500)}, 0},
      {"window off every screen", {Kind::window, {}, {}, QRect(9000, 9000, 100, 100)}, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(targetScreen(kScreens, c.target, 1), c.expected) << c.what;

  // Two screens of the same size can't be told apart by size.
  const std::vector<ScreenSlot> twins = {{QStringLiteral("a"), QRect(0, 0, 1920, 1080)},
                                         {QStringLiteral("b"), QRect(1920, 0, 1920, 1080)}};
  EXPECT_EQ(targetScreen(twins, {Kind::display, QString(), QSize(1920, 1080), {}}, 1), 1u);
  EXPECT_EQ(targetScreen({}, {}, 0), std::nullopt);
  EXPECT_EQ(targetScreen(kScreens, {}, 7), 0u) << "a primary index out of range falls back to the first";
}

TEST(OverlayGeometryTest, PillAndToolbarAreCentredNearTheirEdges) {
  const QRect screen(1920, 0, 2560, 1440);
  EXPECT_EQ(pillPosition(screen, QSize(240, 44)), QPoint(1920 + 1160, 1440 - 64 - 44));
  EXPECT_EQ(toolbarPosition(screen, QSize(520, 44)), QPoint(1920 + 1020, 56));
  EXPECT_EQ(toolbarPosition(QRect(0, 100, 1000, 800), QSize(400, 44)), QPoint(300, 156));
}

TEST(OverlayGeometryTest, BubbleIsPlacedFromTheLayoutAndKeptOnTheScreen) {
  const QRect screen(100, 50, 1000, 800);
  const QSize panel(148, 148);
  struct Case {
    Point centre;
    QPoint expected;
  };
  const Case cases[] = {
      {{0.5, 0.5}, {100 + 500 - 74, 50 + 400 - 74}},
      {{0.12, 0.85}, {100 + 120 - 74, 50 + 680 - 74}},
      {{0.0, 0.0}, {100, 50}},                          // clamped to the top-left corner
      {{1.0, 1.0}, {100 + 1000 - 148, 50 + 800 - 148}},  // and to the bottom-right one
      {{-3, 9}, {100, 50 + 800 - 148}},
  };
  for (const Case& c : cases) {
    BubbleLayout layout;
    layout.centre = c.centre;
    EXPECT_EQ(bubblePosition(screen, panel, layout), c.expected) << c.centre.x << "," << c.centre.y;
  }
  // A screen smaller than the panel: pinned to its top-left corner.
  EXPECT_EQ(bubblePosition(QRect(10, 20, 100, 100), panel, BubbleLayout{}), QPoint(10, 20));
}

TEST(OverlayGeometryTest, DraggedBubbleBecomesALayoutWithinTheUnitSquare) {
  const QRect screen(100, 50, 1000, 800);
  BubbleLayout current;
  current.diameterFraction = 0.25;

  const BubbleLayout middle = bubbleLayoutForPanel(screen, QRect(526, 376, 148, 148), current);
  EXPECT_DOUBLE_EQ(middle.centre.x, 0.5);
  EXPECT_DOUBLE_EQ(middle.centre.y, 0.5);
  EXPECT_DOUBLE_EQ(middle.diameterFraction, 0.25);

  // Dragged past the edges: exactly 0 and 1.
  const BubbleLayout past = bubbleLayoutForPanel(screen, QRect(-500, 2000, 148, 148), current);
  EXPECT_EQ(past.centre, (Point{0.0, 1.0}));
  const BubbleLayout other = bubbleLayoutForPanel(screen, QRect(4000, -900, 148, 148), current);
  EXPECT_EQ(other.centre, (Point{1.0, 0.0}));

  // Placing from a layout and reading it back gives the layout again (to a pixel).
  BubbleLayout layout;
  layout.centre = {0.3, 0.7};
  const QRect placed(bubblePosition(screen, QSize(148, 148), layout), QSize(148, 148));
  const BubbleLayout back = bubbleLayoutForPanel(screen, placed, layout);
  EXPECT_NEAR(back.centre.x, 0.3, 1.0 / 1000);
  EXPECT_NEAR(back.centre.y, 0.7, 1.0 / 800);
}

TEST(OverlayGeometryTest, CanvasPointsAreUnitCoordinatesWithinTheSquare) {
  EXPECT_EQ(unitPoint(QPointF(960, 270), QSizeF(1920, 1080)), (Point{0.5, 0.25}));
  EXPECT_EQ(unitPoint(QPointF(-5, 2000), QSizeF(1920, 1080)), (Point{0.0, 1.0}));
  // A side of 1 or less is not divided (no division by zero on a collapsed canvas).
  EXPECT_EQ(unitPoint(QPointF(0.4, 50), QSizeF(1, 100)), (Point{0.4, 0.5}));
  EXPECT_EQ(unitPoint(QPointF(3, 3), QSizeF(0, 0)), (Point{1.0, 1.0}));
}

}  // namespace
}  // namespace tolvane::overlay_geometry
