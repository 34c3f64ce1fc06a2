#include "app/overlays/stroke_draft.h"

#include <utility>

namespace tolvane {

void StrokeDraft::extend(Point p, AnnotationTool tool, AnnotationColor color, double width) {
  if (!stroke_) {
    stroke_ = AnnotationStroke(tool, color, width, {p, p});
    return;
  }
  if (isShape(stroke_->tool)) {
    const Point first = stroke_->points.front();
    stroke_->points = {first, p};
  } else {
    stroke_->points.push_back(p);
  }
}

std::optional<AnnotationStroke> StrokeDraft::finish() {
  std::optional<AnnotationStroke> done = std::exchange(stroke_, std::nullopt);
  if (done && done->points.size() > 1) return done;
  return std::nullopt;
}

}  // namespace tolvane
