#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tolvane {

// Where the tray popover of `size` goes: against the icon's `iconGeometry` on the side
// away from the panel (below a top panel, above a bottom one, beside a side panel), or,
// when the host tells nothing of the icon (an empty rectangle, as StatusNotifierItem
// hosts do), at `pointer`, which has just clicked it. Always inside `available`, the
// screen's area without its panels.
QPoint popoverPosition(const QRect& iconGeometry, const QPoint& pointer, const QSize& size, const QRect& available);

}  // namespace tolvane
