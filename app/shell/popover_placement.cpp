#include "app/shell/popover_placement.h"

#include <algorithm>

namespace tolvane {
namespace {

// Keeps the popover off the icon and the panel edge.
constexpr int kGap = 6;

int clampInto(int start, int length, int areaStart, int areaLength) {
  // Too big for the area: keep its start (the header and the first rows) visible.
  if (length >= areaLength) return areaStart;
  return std::clamp(start, areaStart, areaStart + areaLength - length);
}

}  // namespace

QPoint popoverPosition(const QRect& iconGeometry, const QPoint& pointer, const QSize& size, const QRect& available) {
  const QRect anchor = iconGeometry.isEmpty() ? QRect(pointer, QSize(1, 1)) : iconGeometry;
  // Centred on the anchor (QRect::center() rounds the odd pixel away).
  const int centredX = anchor.x() + (anchor.width() - size.width()) / 2;
  const int centredY = anchor.y() + (anchor.height() - size.height()) / 2;
  int x = centredX;
  int y = 0;

  if (anchor.right() < available.left()) {
    // A panel on the left: open to its right, level with the icon.
    x = available.left() + kGap;
    y = centredY;
  } else if (anchor.left() > available.right()) {
    x = available.right() + 1 - kGap - size.width();
    y = centredY;
  } else if (anchor.center().y() < available.center().y()) {
    // A top panel, or an icon in the upper half (a panel that reserves no space).
    y = std::max(anchor.bottom() + 1, available.top()) + kGap;
  } else {
    y = std::min(anchor.top(), available.bottom() + 1) - kGap - size.height();
  }

  return {clampInto(x, size.width(), available.left(), available.width()),
          clampInto(y, size.height(), available.top(), available.height())};
}

}  // namespace tolvane
