#pragma once

#include <optional>

#include "kit/annotations/annotation_stroke.h"

namespace tolvane {

// The stroke being drawn on the canvas. The first point of a drag starts a stroke of the
// active tool, colour and width at [p, p] (so a plain click leaves a dot); pen and
// highlighter strokes collect every point; shapes keep only their first point and the
// current one. The tool is fixed when the stroke starts: switching tools mid-drag doesn't
// change it.
class StrokeDraft {
 public:
  // Starts a stroke at `p` or continues the one in progress.
  void extend(Point p, AnnotationTool tool, AnnotationColor color, double width);
  // Ends the drag: the stroke to keep (more than one point), if any. Clears the draft.
  std::optional<AnnotationStroke> finish();
  void cancel() { stroke_.reset(); }

  const std::optional<AnnotationStroke>& stroke() const { return stroke_; }

 private:
  std::optional<AnnotationStroke> stroke_;
};

}  // namespace tolvane
