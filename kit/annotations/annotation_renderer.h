#pragma once

#include <optional>
#include <vector>

#include "kit/annotations/annotation_stroke.h"
#include "kit/base/geometry.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Turns strokes into what the recording pipeline uses: one transparent overlay image of
// the video's size, and the rectangles to blur. Stateless; safe from any thread.
class AnnotationRenderer {
 public:
  // Draws every stroke except blur boxes, in list order, into a new transparent
  // premultiplied BGRA frame of trunc(width) x trunc(height) pixels. Nothing (nullopt)
  // when no drawable stroke remains or the size is under one pixel either way.
  static std::optional<VideoFrame> render(const std::vector<AnnotationStroke>& strokes, Size size);

  // The rectangles of the blur strokes that have at least two points, in list order, in
  // unit coordinates with a top-left origin.
  static std::vector<Rect> blurRects(const std::vector<AnnotationStroke>& strokes);

  // The rectangle two points span, whichever way it was dragged.
  static Rect rect(Point from, Point to);
};

}  // namespace tolvane
