#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <cstddef>
#include <optional>
#include <vector>

#include "app/capture/bubble_layout.h"
#include "kit/base/geometry.h"

namespace tolvane::overlay_geometry {

// Where the floating panels go and where a pointer lands on the drawing canvas.
// Everything is in Qt's desktop coordinates (top-left origin, y down) and free of windows,
// so that the rules can be checked without a display.

// A screen as the window system reports it.
struct ScreenSlot {
  QString name;   // the output's name, as the X server's monitor is called
  QRect geometry;  // in desktop pixels
};

// What is being recorded, in the terms a screen can be matched against.
struct TargetDescription {
  enum class Kind { none, display, window };
  Kind kind = Kind::none;
  QString monitorName;   // a display: its monitor's name, empty when unknown
  QSize displaySize;     // a display: its size in pixels
  QRect windowGeometry;  // a window: its frame on the desktop, empty when unknown
};

// The index into `screens` of the screen to show the countdown, the canvas and the toolbar
// on: a display target's own screen (by monitor name, else by being the one screen of
// its size); for a window, the screen holding most of it; otherwise (and when nothing
// matches) `primary`. None only when there are no screens.
std::optional<std::size_t> targetScreen(const std::vector<ScreenSlot>& screens, const TargetDescription& target,
                                        std::size_t primary);

// The pill: centred horizontally, its bottom 64 px above the screen's bottom edge.
QPoint pillPosition(const QRect& screen, QSize panel);

// The toolbar: centred horizontally, its top 56 px below the screen's top edge.
QPoint toolbarPosition(const QRect& screen, QSize panel);

// The bubble preview's top-left corner for `layout`'s centre (unit coordinates of the
// screen, y from the top), clamped so the panel stays on the screen. On a screen smaller
// than the panel along an axis there is no position that fits; the panel is pinned to
// the screen's top or left edge there, so its grip stays reachable.
QPoint bubblePosition(const QRect& screen, QSize panel, const BubbleLayout& layout);

// The layout a dragged bubble preview stands for: its centre as a fraction of the screen,
// each coordinate limited to [0, 1]; the diameter is kept from `current`.
BubbleLayout bubbleLayoutForPanel(const QRect& screen, const QRect& panel, const BubbleLayout& current);

// A pointer position on the canvas as a unit point (top-left origin): each coordinate
// divided by the canvas's side (a side of 1 or less is not divided) and limited to [0, 1].
Point unitPoint(QPointF pointer, QSizeF canvas);

}  // namespace tolvane::overlay_geometry
