#pragma once

#include <QIcon>
#include <QImage>

namespace tolvane {

// The tray's record icon, drawn here rather than taken from the icon theme so it looks
// the same on every desktop: a ring while idle, the ring with a filled dot while a
// recording runs. Panels come dark and light and a tray icon can't ask which, so the
// glyph is a light grey with a dark rim: the body carries it on dark panels, the rim and
// the grey on light ones.
class TrayIconPainter {
 public:
  // One rendering, `size` × `size` device pixels (the tray sizes are 16 to 64).
  static QImage render(int size, bool recording);
  // Every tray size, so hosts pick a sharp one instead of scaling.
  static QIcon icon(bool recording);
};

}  // namespace tolvane
