#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

namespace tolvane {

class X11Connection;

// Draws the pointer, as XFixes reports it, into a captured picture. The cursor image is
// fetched again only when its shape or position changed.
class X11CursorPainter {
 public:
  explicit X11CursorPainter(const X11Connection& connection);

  // Refreshes the cursor from the server; returns true when its shape or position
  // changed since the last call (so an otherwise static picture needs a new frame).
  bool update();
  // Blends the cursor into a BGRX picture whose top-left pixel is at (originX, originY)
  // of the root window.
  void paint(std::uint8_t* pixels, int stride, int width, int height, int originX, int originY) const;

 private:
  const X11Connection& connection_;
  bool isAvailable_ = false;
  unsigned long serial_ = 0;
  int x_ = 0;  // top-left of the cursor image on the root window
  int y_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> argb_;  // premultiplied
};

}  // namespace tolvane
