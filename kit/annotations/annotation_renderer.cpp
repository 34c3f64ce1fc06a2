#include "kit/annotations/annotation_renderer.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <cairo.h>

namespace tolvane {
namespace {

// Half the opening angle of an arrow head.
constexpr double kArrowHalfAngle = 0.4487989505128276;  // pi / 7
// Bezier handle length of a quarter ellipse, relative to the radius.
constexpr double kEllipseKappa = 0.5522847498307936;

using CairoContext = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;
using CairoSurface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

struct Canvas {
  double width;
  double height;
  double shorterSide() const { return std::min(width, height); }
  Point toPixels(Point unit) const { return {unit.x * width, unit.y * height}; }
};

// Cairo has cubic curves only; a quadratic from p0 over control c to p2 is the cubic
// with handles two thirds of the way from each end towards c.
void quadraticTo(cairo_t* cr, Point control, Point end) {
  double x0 = 0;
  double y0 = 0;
  cairo_get_current_point(cr, &x0, &y0);
  cairo_curve_to(cr, x0 + 2.0 / 3.0 * (control.x - x0), y0 + 2.0 / 3.0 * (control.y - y0),
                 end.x + 2.0 / 3.0 * (control.x - end.x), end.y + 2.0 / 3.0 * (control.y - end.y), end.x, end.y);
}

// Freehand strokes are smoothed by running a quadratic curve through the midpoints of
// successive samples, with each sample as the control point.
void freehandPath(cairo_t* cr, const std::vector<Point>& points) {
  cairo_move_to(cr, points.front().x, points.front().y);
  for (std::size_t i = 1; i + 1 < points.size(); ++i) {
    const Point mid{(points[i].x + points[i + 1].x) / 2, (points[i].y + points[i + 1].y) / 2};
    quadraticTo(cr, points[i], mid);
  }
  // For a single point this is a zero-length segment, which the round caps draw as a dot.
  cairo_line_to(cr, points.back().x, points.back().y);
  cairo_stroke(cr);
}

void arrow(cairo_t* cr, Point start, Point end, double lineWidth, double shorterSide) {
  cairo_move_to(cr, start.x, start.y);
  cairo_line_to(cr, end.x, end.y);
  cairo_stroke(cr);

  const double angle = std::atan2(end.y - start.y, end.x - start.x);
  const double headLength = std::max(lineWidth * 3.2, shorterSide * 0.016);
  cairo_move_to(cr, end.x, end.y);
  cairo_line_to(cr, end.x - headLength * std::cos(angle - kArrowHalfAngle),
                end.y - headLength * std::sin(angle - kArrowHalfAngle));
  cairo_line_to(cr, end.x - headLength * std::cos(angle + kArrowHalfAngle),
                end.y - headLength * std::sin(angle + kArrowHalfAngle));
  cairo_close_path(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill(cr);
}

// Built from four curves rather than a scaled arc so that a flat rectangle (zero width
// or height) still gives a valid, if degenerate, path.
void ellipse(cairo_t* cr, Rect box) {
  const double rx = box.width / 2;
  const double ry = box.height / 2;
  const double cx = box.x + rx;
  const double cy = box.y + ry;
  const double kx = rx * kEllipseKappa;
  const double ky = ry * kEllipseKappa;
  cairo_move_to(cr, cx + rx, cy);
  cairo_curve_to(cr, cx + rx, cy + ky, cx + kx, cy + ry, cx, cy + ry);
  cairo_curve_to(cr, cx - kx, cy + ry, cx - rx, cy + ky, cx - rx, cy);
  cairo_curve_to(cr, cx - rx, cy - ky, cx - kx, cy - ry, cx, cy - ry);
  cairo_curve_to(cr, cx + kx, cy - ry, cx + rx, cy - ky, cx + rx, cy);
  cairo_close_path(cr);
  cairo_stroke(cr);
}

void drawStroke(cairo_t* cr, const AnnotationStroke& stroke, const Canvas& canvas) {
  if (stroke.points.empty()) return;
  const bool isFreehand = !isShape(stroke.tool);
  if (stroke.points.size() == 1 && !isFreehand) return;

  std::vector<Point> points;
  points.reserve(stroke.points.size());
  for (const Point& point : stroke.points) points.push_back(canvas.toPixels(point));
  const double lineWidth = std::max(stroke.width * canvas.shorterSide(), 1.0);

  cairo_save(cr);
  // The alpha applies to the stroke as a whole: it is drawn opaque into a group that is
  // then painted translucently, so a highlighter crossing itself does not darken.
  const bool isTranslucent = stroke.alpha() < 1.0;
  if (isTranslucent) cairo_push_group(cr);
  cairo_set_source_rgb(cr, stroke.color.red, stroke.color.green, stroke.color.blue);
  cairo_set_line_width(cr, lineWidth);

  const Point first = points.front();
  const Point last = points.back();
  switch (stroke.tool) {
    case AnnotationTool::pen:
    case AnnotationTool::highlighter:
      freehandPath(cr, points);
      break;
    case AnnotationTool::line:
      cairo_move_to(cr, first.x, first.y);
      cairo_line_to(cr, last.x, last.y);
      cairo_stroke(cr);
      break;
    case AnnotationTool::arrow:
      arrow(cr, first, last, lineWidth, canvas.shorterSide());
      break;
    case AnnotationTool::rectangle: {
      const Rect box = AnnotationRenderer::rect(first, last);
      cairo_rectangle(cr, box.x, box.y, box.width, box.height);
      cairo_stroke(cr);
      break;
    }
    case AnnotationTool::ellipse:
      ellipse(cr, AnnotationRenderer::rect(first, last));
      break;
    case AnnotationTool::blur:
      break;
  }

  if (isTranslucent) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, stroke.alpha());
  }
  cairo_restore(cr);
}

}  // namespace

std::optional<VideoFrame> AnnotationRenderer::render(const std::vector<AnnotationStroke>& strokes, Size size) {
  const bool hasDrawable = std::any_of(strokes.begin(), strokes.end(),
                                       [](const AnnotationStroke& s) { return s.tool != AnnotationTool::blur; });
  // Written so that NaN sizes fail too.
  if (!hasDrawable || !(size.width >= 1) || !(size.height >= 1)) return std::nullopt;
  const double maxSide = 32768;  // Cairo's own limit for image surfaces
  if (size.width > maxSide || size.height > maxSide) return std::nullopt;

  const int width = static_cast<int>(size.width);
  const int height = static_cast<int>(size.height);
  VideoFrame frame;
  try {
    frame = VideoFrame::allocate(width, height);  // zeroed: transparent
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }

  // Cairo's ARGB32 is premultiplied B, G, R, A in memory on little-endian machines:
  // exactly the frame's layout, so it draws straight into the frame's pixels.
  CairoSurface surface(
      cairo_image_surface_create_for_data(frame.data(), CAIRO_FORMAT_ARGB32, width, height, frame.stride()),
      &cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  CairoContext cr(cairo_create(surface.get()), &cairo_destroy);
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;

  cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
  const Canvas canvas{static_cast<double>(width), static_cast<double>(height)};
  for (const AnnotationStroke& stroke : strokes) {
    if (stroke.tool == AnnotationTool::blur) continue;
    drawStroke(cr.get(), stroke, canvas);
  }
  cairo_surface_flush(surface.get());
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  return frame;
}

std::vector<Rect> AnnotationRenderer::blurRects(const std::vector<AnnotationStroke>& strokes) {
  std::vector<Rect> rects;
  for (const AnnotationStroke& stroke : strokes) {
    if (stroke.tool != AnnotationTool::blur || stroke.points.size() < 2) continue;
    rects.push_back(rect(stroke.points.front(), stroke.points.back()));
  }
  return rects;
}

Rect AnnotationRenderer::rect(Point from, Point to) {
  return {std::min(from.x, to.x), std::min(from.y, to.y), std::abs(to.x - from.x), std::abs(to.y - from.y)};
}

}  // namespace tolvane
