#include "app/ui/scaled_video_item.h"

#include <QQuickWindow>
#include <QSGSimpleTextureNode>

#include <cmath>

#include "app/ui/video_frame_scaler.h"

namespace tolvane {

ScaledVideoItem::ScaledVideoItem(QQuickItem* parent)
    : QQuickItem(parent),
      sink_(std::make_unique<QVideoSink>()),
      scaler_(std::make_unique<VideoFrameScaler>(
          [this] { QMetaObject::invokeMethod(this, &QQuickItem::update, Qt::QueuedConnection); })) {
  setFlag(ItemHasContents);
  connect(sink_.get(), &QVideoSink::videoFrameChanged, this, &ScaledVideoItem::show);
}

ScaledVideoItem::~ScaledVideoItem() = default;

QSize ScaledVideoItem::pixelSize() const {
  const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
  return QSize(static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio)));
}

void ScaledVideoItem::show(const QVideoFrame& frame) {
  lastFrame_ = frame;
  scaler_->offer(frame, pixelSize());
}

void ScaledVideoItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
  QQuickItem::geometryChange(newGeometry, oldGeometry);
  if (newGeometry.size() != oldGeometry.size() && lastFrame_.isValid()) scaler_->offer(lastFrame_, pixelSize());
}

QSGNode* ScaledVideoItem::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
  auto* node = static_cast<QSGSimpleTextureNode*>(old);
  if (auto picture = scaler_->takePicture()) {
    if (picture->isNull()) {
      delete node;
      pictureSize_ = QSize();
      return nullptr;
    }
    if (!node) {
      node = new QSGSimpleTextureNode;
      node->setOwnsTexture(true);
      node->setFiltering(QSGTexture::Linear);
    }
    node->setTexture(window()->createTextureFromImage(*picture));
    pictureSize_ = picture->size();
  }
  if (!node) return nullptr;
  // Centred at the picture's aspect; the picture already has the item's pixel size, so
  // this only stretches it for the moment a resize waits for the next one.
  const QSizeF shown = QSizeF(pictureSize_).scaled(size(), Qt::KeepAspectRatio);
  node->setRect(QRectF(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown));
  return node;
}

}  // namespace tolvane
