#include "app/capture/sources/x11_cursor_painter.h"

#include <X11/extensions/Xfixes.h>

#include <algorithm>

#include "app/capture/sources/x11_connection.h"

namespace tolvane {

X11CursorPainter::X11CursorPainter(const X11Connection& connection) : connection_(connection) {
  int eventBase = 0;
  int errorBase = 0;
  isAvailable_ = XFixesQueryExtension(connection_.display(), &eventBase, &errorBase) != 0;
}

bool X11CursorPainter::update() {
  if (!isAvailable_ || connection_.isBroken()) return false;
  X11ErrorTrap trap(connection_);
  XFixesCursorImage* image = XFixesGetCursorImage(connection_.display());
  if (image == nullptr) return false;
  int x = image->x - image->xhot;
  int y = image->y - image->yhot;
  bool changed = image->cursor_serial != serial_ || x != x_ || y != y_;
  if (image->cursor_serial != serial_ || argb_.empty()) {
    serial_ = image->cursor_serial;
    width_ = image->width;
    height_ = image->height;
    // XFixes hands 32-bit ARGB pixels back in longs.
    argb_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
    for (std::size_t i = 0; i < argb_.size(); ++i) argb_[i] = static_cast<std::uint32_t>(image->pixels[i]);
  }
  x_ = x;
  y_ = y;
  XFree(image);
  return changed;
}

void X11CursorPainter::paint(std::uint8_t* pixels, int stride, int width, int height, int originX,
                             int originY) const {
  if (argb_.empty()) return;
  int left = x_ - originX;
  int top = y_ - originY;
  for (int cy = std::max(0, -top); cy < height_ && top + cy < height; ++cy) {
    auto* row = reinterpret_cast<std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(top + cy) * stride);
    for (int cx = std::max(0, -left); cx < width_ && left + cx < width; ++cx) {
      std::uint32_t c = argb_[static_cast<std::size_t>(cy) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(cx)];
      std::uint32_t alpha = c >> 24;
      if (alpha == 0) continue;
      std::uint32_t& d = row[left + cx];
      std::uint32_t inverse = 255 - alpha;
      // Premultiplied "over": result = cursor + destination × (1 − alpha).
      std::uint32_t b = (c & 0xFF) + ((d & 0xFF) * inverse + 127) / 255;
      std::uint32_t g = ((c >> 8) & 0xFF) + (((d >> 8) & 0xFF) * inverse + 127) / 255;
      std::uint32_t r = ((c >> 16) & 0xFF) + (((d >> 16) & 0xFF) * inverse + 127) / 255;
      d = 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
    }
  }
}

}  // namespace tolvane
