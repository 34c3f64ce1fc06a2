#pragma once

#include <QQuickItem>
#include <QVideoFrame>
#include <QVideoSink>
#include <memory>

namespace tolvane {

class VideoFrameScaler;

// A video output for a MediaPlayer (its videoOutput) that shows each frame at the
// item's own pixel size, letterboxed at the frame's aspect. The frames are shrunk and
// converted to RGB off the GUI and render threads by a VideoFrameScaler, so the scene
// graph only uploads a picture the size of the item.
class ScaledVideoItem : public QQuickItem {
  Q_OBJECT
  // The sink the player hands its frames to; MediaPlayer finds it through the method.
  Q_PROPERTY(QVideoSink* videoSink READ videoSink CONSTANT)

 public:
  explicit ScaledVideoItem(QQuickItem* parent = nullptr);
  ~ScaledVideoItem() override;

  Q_INVOKABLE QVideoSink* videoSink() const { return sink_.get(); }

 protected:
  QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* data) override;
  void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

 private:
  void show(const QVideoFrame& frame);
  QSize pixelSize() const;

  std::unique_ptr<QVideoSink> sink_;
  // The frame on screen, made again when the item's size changes while paused.
  QVideoFrame lastFrame_;
  QSize pictureSize_;  // of the picture in the node, in device pixels
  std::unique_ptr<VideoFrameScaler> scaler_;  // last: its thread stops first
};

}  // namespace tolvane
