#include "app/overlays/canvas_area_publisher.h"

#include <QQuickWindow>
#include <QRegion>

#include "app/overlays/annotation_canvas_item.h"
#include "app/overlays/x11_panel_support.h"

namespace tolvane {

namespace {

// A drawing of more separate pieces than this goes out as the rectangle around them all:
// the recording clips to every rectangle, and a handful of large ones cost less.
constexpr int kMaxAreas = 64;

}  // namespace

CanvasAreaPublisher::CanvasAreaPublisher(AnnotationCanvasItem& surface, QQuickWindow& window)
    : QObject(&window), surface_(&surface), window_(window) {
  connect(&surface, &AnnotationCanvasItem::paintedRegionChanged, this, [this] { isStale_ = true; });
  // On the GUI thread, before each frame is synchronised with the scene graph.
  connect(&window, &QQuickWindow::afterAnimating, this, [this] {
    if (isStale_) publish();
  });
  publish();
}

void CanvasAreaPublisher::publish() {
  isStale_ = false;
  if (!surface_) return;
  const QRegion painted = surface_->paintedRegion();
  // Window pixels: the item's place in the window, at the screen's scale, rounded outward.
  const double scale = window_.devicePixelRatio();
  const QRect windowRect(QPoint(0, 0), window_.size() * scale);
  QList<QRect> areas;
  auto add = [&](const QRect& rect) {
    const QRectF inWindow = surface_->mapRectToScene(QRectF(rect));
    const QRect pixels =
        QRectF(inWindow.topLeft() * scale, inWindow.size() * scale).toAlignedRect().intersected(windowRect);
    if (!pixels.isEmpty()) areas.append(pixels);
  };
  if (painted.rectCount() > kMaxAreas) {
    add(painted.boundingRect());
  } else {
    for (const QRect& rect : painted) add(rect);
  }
  x11_panel_support::publishShownAreas(window_, areas);
}

}  // namespace tolvane
