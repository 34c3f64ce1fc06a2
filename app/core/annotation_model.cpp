#include "app/core/annotation_model.h"

#include <QPointF>

#include "app/core/change.h"
#include "kit/annotations/annotation_renderer.h"

namespace tolvane {

namespace {

QVariantMap colorMap(const AnnotationColor& color) {
  return {{QStringLiteral("red"), color.red}, {QStringLiteral("green"), color.green},
          {QStringLiteral("blue"), color.blue}};
}

QString toolName(AnnotationTool tool) {
  const auto raw = rawValue(tool);
  return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

}  // namespace

AnnotationModel::AnnotationModel(QObject* parent) : QObject(parent) {}

void AnnotationModel::setRecordingOutput(OutputSize outputSize, Deliver deliver) {
  outputSize_ = std::move(outputSize);
  deliver_ = std::move(deliver);
}

void AnnotationModel::setDrawing(bool drawing) {
  if (assignChanged(isDrawing_, drawing)) emit isDrawingChanged();
}

QString AnnotationModel::activeToolName() const { return toolName(activeTool_); }

void AnnotationModel::setActiveTool(AnnotationTool tool) {
  if (assignChanged(activeTool_, tool)) emit activeToolChanged();
}

void AnnotationModel::setActiveToolName(const QString& name) {
  // An unknown name (a typo in a view) keeps the current tool.
  if (const auto tool = annotationToolFromRawValue(name.toStdString())) setActiveTool(*tool);
}

QVariantMap AnnotationModel::activeColorMap() const { return colorMap(activeColor_); }

QVariantList AnnotationModel::strokeList() const {
  QVariantList list;
  for (const AnnotationStroke& stroke : strokes_) {
    QVariantList points;
    for (const Point& point : stroke.points) points.append(QPointF(point.x, point.y));
    list.append(QVariantMap{{QStringLiteral("id"), QString::fromStdString(stroke.id)},
                            {QStringLiteral("tool"), toolName(stroke.tool)},
                            {QStringLiteral("color"), colorMap(stroke.color)},
                            {QStringLiteral("width"), stroke.width},
                            {QStringLiteral("points"), points}});
  }
  return list;
}

void AnnotationModel::setActiveColor(AnnotationColor color) {
  if (assignChanged(activeColor_, color)) emit activeColorChanged();
}

void AnnotationModel::setActiveColorMap(const QVariantMap& color) {
  setActiveColor({color.value(QStringLiteral("red")).toDouble(), color.value(QStringLiteral("green")).toDouble(),
                  color.value(QStringLiteral("blue")).toDouble()});
}

void AnnotationModel::setStrokeWidth(double width) {
  if (assignChanged(strokeWidth_, width)) emit strokeWidthChanged();
}

void AnnotationModel::addStroke(AnnotationStroke stroke) {
  strokes_.push_back(std::move(stroke));
  annotationsChanged();
}

void AnnotationModel::addStroke(const QVariantList& points) {
  std::vector<Point> path;
  path.reserve(static_cast<std::size_t>(points.size()));
  for (const QVariant& point : points) {
    const QPointF p = point.toPointF();
    path.push_back({p.x(), p.y()});
  }
  addStroke(AnnotationStroke(activeTool_, activeColor_, strokeWidth_, std::move(path)));
}

void AnnotationModel::undoStroke() {
  if (strokes_.empty()) return;
  strokes_.pop_back();
  annotationsChanged();
}

void AnnotationModel::clearStrokes() {
  // Nothing drawn: the recording already shows nothing.
  if (strokes_.empty()) return;
  strokes_.clear();
  annotationsChanged();
}

void AnnotationModel::recordingFinished() {
  setDrawing(false);
  clearStrokes();
}

void AnnotationModel::annotationsChanged() {
  emit strokesChanged();
  // Without a recording there is nothing to draw into; the next one starts clean.
  const auto size = outputSize_ ? outputSize_() : std::nullopt;
  if (!size || !deliver_) return;
  deliver_(AnnotationRenderer::render(strokes_, *size), AnnotationRenderer::blurRects(strokes_));
}

}  // namespace tolvane
