#pragma once

namespace tolvane {

// Plain double-precision geometry shared by the annotation model, the bubble layout and
// the capture pipeline. Unless a name says otherwise, the origin is the top-left corner
// and y grows downwards.
struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace tolvane
