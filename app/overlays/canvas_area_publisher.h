#pragma once

#include <QObject>
#include <QPointer>

class QQuickWindow;

namespace tolvane {

class AnnotationCanvasItem;

// Tells display recordings where the drawing canvas has painted, so that under a
// compositing manager they rebuild only those parts of the screen from the windows below
// rather than the whole monitor in every frame (see x11_panel_support::publishShownAreas).
//
// The areas go out at most once a frame, just before the frame that paints them is
// rendered: a stroke never shows on screen before the recording knows where it is. When
// strokes go, the recording keeps rebuilding where they were for a few frames, until the
// compositing manager has shown the canvas without them.
class CanvasAreaPublisher : public QObject {
 public:
  // Lives as long as `window`, whose child it becomes; publishes what `surface` has
  // painted so far at once.
  CanvasAreaPublisher(AnnotationCanvasItem& surface, QQuickWindow& window);

 private:
  void publish();

  QPointer<AnnotationCanvasItem> surface_;
  QQuickWindow& window_;
  bool isStale_ = false;
};

}  // namespace tolvane
