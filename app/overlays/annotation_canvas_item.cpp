#include "app/overlays/annotation_canvas_item.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "app/core/annotation_model.h"
#include "app/overlays/overlay_geometry.h"
#include "kit/annotations/annotation_renderer.h"

namespace tolvane {

namespace {

// The recorded picture gets its arrow heads from the renderer's rule; the canvas draws
// the same head so what the user sees is what the video shows.
constexpr double kHeadHalfAngle = std::numbers::pi / 7;

// How far antialiasing reaches past a shape's outline, in pixels, with room to spare.
constexpr double kAntialiasing = 2;
// The blur placeholder's dashed outline.
constexpr double kBlurOutlineWidth = 1.5;

QColor colorOf(const AnnotationColor& color, double alpha = 1.0) {
  return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                          static_cast<float>(color.blue), static_cast<float>(alpha));
}

QRectF pixelRect(const AnnotationStroke& stroke, double width, double height) {
  const Rect unit = AnnotationRenderer::rect(stroke.points.front(), stroke.points.back());
  return {unit.x * width, unit.y * height, unit.width * width, unit.height * height};
}

// A blur box is applied to the video, not drawn; on screen it shows where it goes.
void paintBlurBox(QPainter& painter, const QRectF& rect) {
  painter.fillRect(rect, QColor::fromRgbF(1, 1, 1, 0.35f));
  QPen outline(QColor::fromRgbF(1, 1, 1, 0.8f), kBlurOutlineWidth);
  // Dashes are counted in pen widths.
  outline.setDashPattern({6 / kBlurOutlineWidth, 4 / kBlurOutlineWidth});
  painter.setPen(outline);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect);
}

double lineWidthOf(const AnnotationStroke& stroke, double width, double height) {
  return std::max(stroke.width * std::min(width, height), 1.0);
}

// From the arrow's end back to its head's base corners.
double headLength(double lineWidth, double width, double height) {
  return std::max(lineWidth * 3.2, std::min(width, height) * 0.016);
}

// A shape needs two points to be drawn; a freehand stroke shows from its first.
bool isDrawn(const AnnotationStroke& stroke) {
  return !stroke.points.empty() && (stroke.points.size() >= 2 || !isShape(stroke.tool));
}

void paintStroke(QPainter& painter, const AnnotationStroke& stroke, double width, double height) {
  if (!isDrawn(stroke)) return;
  if (stroke.tool == AnnotationTool::blur) {
    paintBlurBox(painter, pixelRect(stroke, width, height));
    return;
  }
  const double lineWidth = lineWidthOf(stroke, width, height);
  auto pixel = [&](const Point& p) { return QPointF(p.x * width, p.y * height); };
  const QColor color = colorOf(stroke.color);

  // Each stroke is one path painted at the stroke's opacity, so a highlighter crossing
  // itself doesn't darken where it overlaps while two highlighter strokes do.
  painter.save();
  painter.setOpacity(stroke.alpha());
  QPen pen(color, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  switch (stroke.tool) {
    case AnnotationTool::pen:
    case AnnotationTool::highlighter: {
      QPainterPath path(pixel(stroke.points.front()));
      for (std::size_t i = 1; i < stroke.points.size(); ++i) path.lineTo(pixel(stroke.points[i]));
      if (stroke.points.size() == 1) path.lineTo(pixel(stroke.points.front()));
      painter.drawPath(path);
      break;
    }
    case AnnotationTool::line:
      painter.drawLine(pixel(stroke.points.front()), pixel(stroke.points.back()));
      break;
    case AnnotationTool::arrow: {
      const QPointF start = pixel(stroke.points.front());
      const QPointF end = pixel(stroke.points.back());
      painter.drawLine(start, end);
      const double angle = std::atan2(end.y() - start.y(), end.x() - start.x());
      const double length = headLength(lineWidth, width, height);
      QPainterPath head(end);
      head.lineTo(end.x() - length * std::cos(angle - kHeadHalfAngle), end.y() - length * std::sin(angle - kHeadHalfAngle));
      head.lineTo(end.x() - length * std::cos(angle + kHeadHalfAngle), end.y() - length * std::sin(angle + kHeadHalfAngle));
      head.closeSubpath();
      head.setFillRule(Qt::WindingFill);
      painter.setBrush(color);
      painter.drawPath(head);
      break;
    }
    case AnnotationTool::rectangle:
      painter.drawRect(pixelRect(stroke, width, height));
      break;
    case AnnotationTool::ellipse:
      painter.drawEllipse(pixelRect(stroke, width, height));
      break;
    case AnnotationTool::blur:
      break;
  }
  painter.restore();
}

// Every pixel paintStroke() may touch: the stroke's points, grown by half its pen, by
// an arrow's head, and by what antialiasing smears past the outline.
QRectF paintedBounds(const AnnotationStroke& stroke, double width, double height) {
  if (!isDrawn(stroke)) return {};
  if (stroke.tool == AnnotationTool::blur) {
    const double reach = kBlurOutlineWidth / 2 + kAntialiasing;
    return pixelRect(stroke, width, height).adjusted(-reach, -reach, reach, reach);
  }
  QPolygonF points;
  for (const Point& p : stroke.points) points << QPointF(p.x * width, p.y * height);
  const double lineWidth = lineWidthOf(stroke, width, height);
  // The head lies within its length of the arrow's end, and its outline is stroked too.
  const double reach = lineWidth / 2 + kAntialiasing +
                       (stroke.tool == AnnotationTool::arrow ? headLength(lineWidth, width, height) : 0);
  return points.boundingRect().adjusted(-reach, -reach, reach, reach);
}

}  // namespace

AnnotationCanvasItem::AnnotationCanvasItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
  setAcceptedMouseButtons(Qt::LeftButton);
  setAntialiasing(true);
}

QObject* AnnotationCanvasItem::annotations() const { return model_.data(); }

void AnnotationCanvasItem::setAnnotations(QObject* annotations) {
  auto* model = qobject_cast<AnnotationModel*>(annotations);
  if (model == model_) return;
  if (model_) disconnect(model_, nullptr, this, nullptr);
  model_ = model;
  if (model_) connect(model_, &AnnotationModel::strokesChanged, this, &AnnotationCanvasItem::repaint);
  emit annotationsChanged();
  repaint();
}

void AnnotationCanvasItem::setBackdrop(QImage backdrop) {
  backdrop_ = std::move(backdrop);
  repaint();
}

QRegion AnnotationCanvasItem::paintedRegion() const {
  const double w = width();
  const double h = height();
  if (w < 1 || h < 1) return {};
  if (!backdrop_.isNull()) return QRegion(0, 0, qCeil(w), qCeil(h));
  QRegion region;
  auto add = [&](const AnnotationStroke& stroke) {
    if (const QRectF bounds = paintedBounds(stroke, w, h); !bounds.isEmpty()) region += bounds.toAlignedRect();
  };
  if (model_) {
    for (const AnnotationStroke& stroke : model_->strokes()) add(stroke);
  }
  if (draft_.stroke()) add(*draft_.stroke());
  return region;
}

void AnnotationCanvasItem::repaint() {
  update();
  emit paintedRegionChanged();
}

void AnnotationCanvasItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
  QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
  // The strokes are kept in units of the canvas: they grow with it.
  if (newGeometry.size() != oldGeometry.size()) emit paintedRegionChanged();
}

void AnnotationCanvasItem::paint(QPainter* painter) {
  const double w = width();
  const double h = height();
  if (w < 1 || h < 1) return;
  if (!backdrop_.isNull()) painter->drawImage(QRectF(0, 0, w, h), backdrop_);
  painter->setRenderHint(QPainter::Antialiasing);
  if (model_) {
    for (const AnnotationStroke& stroke : model_->strokes()) paintStroke(*painter, stroke, w, h);
  }
  if (draft_.stroke()) paintStroke(*painter, *draft_.stroke(), w, h);
}

void AnnotationCanvasItem::extend(QPointF pointer) {
  if (!model_) return;
  const bool started = !draft_.stroke();
  draft_.extend(overlay_geometry::unitPoint(pointer, size()), model_->activeTool(), model_->activeColor(),
                model_->strokeWidth());
  if (started) emit drawingChanged();
  repaint();
}

void AnnotationCanvasItem::mousePressEvent(QMouseEvent* event) {
  extend(event->position());
  event->accept();
}

void AnnotationCanvasItem::mouseMoveEvent(QMouseEvent* event) {
  extend(event->position());
  event->accept();
}

void AnnotationCanvasItem::mouseReleaseEvent(QMouseEvent* event) {
  std::optional<AnnotationStroke> stroke = draft_.finish();
  if (stroke && model_) model_->addStroke(std::move(*stroke));
  emit drawingChanged();
  repaint();
  event->accept();
}

void AnnotationCanvasItem::mouseUngrabEvent() {
  // A grab taken away (a window manager's gesture, a popup) leaves nothing half-drawn.
  if (!draft_.stroke()) return;
  draft_.cancel();
  emit drawingChanged();
  repaint();
}

}  // namespace tolvane
