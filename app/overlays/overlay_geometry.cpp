#include "app/overlays/overlay_geometry.h"

#include <algorithm>
#include <cmath>

namespace tolvane::overlay_geometry {

namespace {

constexpr int kPillBottomMargin = 64;
constexpr int kToolbarTopMargin = 56;

// Where a panel of `extent` starts along one axis so that its centre sits at `centre`,
// kept within [low, low + room - extent]; when the screen is narrower than the panel
// there is no such range and the panel starts at `low`.
int clampedStart(double centre, int extent, int low, int room) {
  const double start = centre - extent / 2.0;
  const int high = low + room - extent;
  if (high < low) return low;
  return std::clamp(static_cast<int>(std::lround(start)), low, high);
}

double unit(double value) { return std::clamp(value, 0.0, 1.0); }

qint64 overlapArea(const QRect& a, const QRect& b) {
  const QRect both = a.intersected(b);
  return both.isEmpty() ? 0 : static_cast<qint64>(both.width()) * both.height();
}

}  // namespace

std::optional<std::size_t> targetScreen(const std::vector<ScreenSlot>& screens, const TargetDescription& target,
                                        std::size_t primary) {
  if (screens.empty()) return std::nullopt;
  const std::size_t fallback = primary < screens.size() ? primary : 0;
  switch (target.kind) {
    case TargetDescription::Kind::display: {
      if (!target.monitorName.isEmpty()) {
        for (std::size_t i = 0; i < screens.size(); ++i) {
          if (screens[i].name == target.monitorName) return i;
        }
      }
      // Without a name to go by, a size only one screen has still tells them apart.
      std::optional<std::size_t> sized;
      for (std::size_t i = 0; i < screens.size(); ++i) {
        if (screens[i].geometry.size() != target.displaySize) continue;
        if (sized) return fallback;
        sized = i;
      }
      return sized.value_or(fallback);
    }
    case TargetDescription::Kind::window: {
      std::size_t best = fallback;
      qint64 bestArea = 0;
      for (std::size_t i = 0; i < screens.size(); ++i) {
        const qint64 area = overlapArea(screens[i].geometry, target.windowGeometry);
        if (area > bestArea) {
          best = i;
          bestArea = area;
        }
      }
      return best;
    }
    case TargetDescription::Kind::none:
      break;
  }
  return fallback;
}

QPoint pillPosition(const QRect& screen, QSize panel) {
  return {screen.x() + (screen.width() - panel.width()) / 2,
          screen.y() + screen.height() - kPillBottomMargin - panel.height()};
}

QPoint toolbarPosition(const QRect& screen, QSize panel) {
  return {screen.x() + (screen.width() - panel.width()) / 2, screen.y() + kToolbarTopMargin};
}

QPoint bubblePosition(const QRect& screen, QSize panel, const BubbleLayout& layout) {
  return {clampedStart(screen.x() + layout.centre.x * screen.width(), panel.width(), screen.x(), screen.width()),
          clampedStart(screen.y() + layout.centre.y * screen.height(), panel.height(), screen.y(), screen.height())};
}

BubbleLayout bubbleLayoutForPanel(const QRect& screen, const QRect& panel, const BubbleLayout& current) {
  BubbleLayout layout = current;
  if (screen.width() <= 0 || screen.height() <= 0) return layout;
  // The centre of a rectangle of even side lies between pixels: QRectF keeps the half.
  const QPointF centre = QRectF(panel).center();
  layout.centre = {unit((centre.x() - screen.x()) / screen.width()), unit((centre.y() - screen.y()) / screen.height())};
  return layout;
}

Point unitPoint(QPointF pointer, QSizeF canvas) {
  const double x = canvas.width() > 1 ? pointer.x() / canvas.width() : pointer.x();
  const double y = canvas.height() > 1 ? pointer.y() / canvas.height() : pointer.y();
  return {unit(x), unit(y)};
}

}  // namespace tolvane::overlay_geometry
