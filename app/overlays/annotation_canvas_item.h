#pragma once

#include <QImage>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QRegion>

#include "app/overlays/stroke_draft.h"

namespace tolvane {

class AnnotationModel;

// The drawing surface of the canvas: takes every press on the screen, turns the drag into
// a stroke of the model's active tool, colour and width, and paints the model's strokes
// and the one in progress with QPainter (the picture is repainted only on a change).
class AnnotationCanvasItem : public QQuickPaintedItem {
  Q_OBJECT
  Q_PROPERTY(QObject* annotations READ annotations WRITE setAnnotations NOTIFY annotationsChanged)
  // Whether a drag is drawing a stroke right now.
  Q_PROPERTY(bool drawing READ drawing NOTIFY drawingChanged)

 public:
  explicit AnnotationCanvasItem(QQuickItem* parent = nullptr);

  QObject* annotations() const;
  void setAnnotations(QObject* annotations);
  bool drawing() const { return draft_.stroke().has_value(); }

  // A picture of the screen to draw over, for desktops without a compositing manager,
  // where the canvas can't be see-through: the user draws over the desktop as it was
  // when drawing began. None by default.
  void setBackdrop(QImage backdrop);

  // Where the canvas paints anything, in its own coordinates, antialiasing included:
  // elsewhere it is clear, and a display recording need not look through it.
  QRegion paintedRegion() const;

  void paint(QPainter* painter) override;

 signals:
  void annotationsChanged();
  void drawingChanged();
  // paintedRegion() may have changed.
  void paintedRegionChanged();

 protected:
  void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseUngrabEvent() override;

 private:
  void extend(QPointF pointer);
  void repaint();

  QPointer<AnnotationModel> model_;
  StrokeDraft draft_;
  QImage backdrop_;
};

}  // namespace tolvane
