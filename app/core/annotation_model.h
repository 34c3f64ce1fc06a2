#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <vector>

#include "kit/annotations/annotation_stroke.h"
#include "kit/base/geometry.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// What the user draws over the screen while recording: the strokes and the toolbar's
// choices. Every change of the strokes is rendered for the running recording, which
// composites the picture and blurs the boxes into the video.
class AnnotationModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool isDrawing READ isDrawing WRITE setDrawing NOTIFY isDrawingChanged)
  Q_PROPERTY(int strokeCount READ strokeCount NOTIFY strokesChanged)
  // Each stroke as {id, tool, color: {red, green, blue}, width, points: [QPointF]}, for the
  // canvas to draw.
  Q_PROPERTY(QVariantList strokes READ strokeList NOTIFY strokesChanged)
  // The raw tool name: "pen", "highlighter", "arrow", "line", "rectangle", "ellipse", "blur".
  Q_PROPERTY(QString activeTool READ activeToolName WRITE setActiveToolName NOTIFY activeToolChanged)
  // {red, green, blue}, each in 0…1.
  Q_PROPERTY(QVariantMap activeColor READ activeColorMap WRITE setActiveColorMap NOTIFY activeColorChanged)
  // A fraction of the picture's shorter side.
  Q_PROPERTY(double strokeWidth READ strokeWidth WRITE setStrokeWidth NOTIFY strokeWidthChanged)

 public:
  // The running recording's output size, none while nothing records.
  using OutputSize = std::function<std::optional<Size>()>;
  // Hands the rendered picture (none when nothing is drawn) and the blur boxes to it.
  using Deliver = std::function<void(std::optional<VideoFrame>, std::vector<Rect>)>;

  explicit AnnotationModel(QObject* parent = nullptr);

  // Where rendered annotations go; the recording side sets it.
  void setRecordingOutput(OutputSize outputSize, Deliver deliver);

  bool isDrawing() const { return isDrawing_; }
  void setDrawing(bool drawing);
  const std::vector<AnnotationStroke>& strokes() const { return strokes_; }
  int strokeCount() const { return static_cast<int>(strokes_.size()); }
  QVariantList strokeList() const;
  AnnotationTool activeTool() const { return activeTool_; }
  QString activeToolName() const;
  void setActiveTool(AnnotationTool tool);
  void setActiveToolName(const QString& name);
  AnnotationColor activeColor() const { return activeColor_; }
  QVariantMap activeColorMap() const;
  void setActiveColor(AnnotationColor color);
  void setActiveColorMap(const QVariantMap& color);
  double strokeWidth() const { return strokeWidth_; }
  void setStrokeWidth(double width);

  void addStroke(AnnotationStroke stroke);
  // A stroke of the active tool, colour and width through `points` (QPointF, fractions
  // of the picture from its top-left corner).
  Q_INVOKABLE void addStroke(const QVariantList& points);
  Q_INVOKABLE void undoStroke();
  Q_INVOKABLE void clearStrokes();
  // A recording finished: drawing ends and its strokes go with it.
  void recordingFinished();

 signals:
  void isDrawingChanged();
  void strokesChanged();
  void activeToolChanged();
  void activeColorChanged();
  void strokeWidthChanged();

 private:
  void annotationsChanged();

  bool isDrawing_ = false;
  std::vector<AnnotationStroke> strokes_;
  AnnotationTool activeTool_ = AnnotationTool::pen;
  AnnotationColor activeColor_ = annotation_colors::tomato;
  double strokeWidth_ = 0.004;
  OutputSize outputSize_;
  Deliver deliver_;
};

}  // namespace tolvane
