#include "app/overlays/camera_preview_item.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "app/overlays/camera_frame_store.h"

namespace tolvane {

namespace {

constexpr double kRingWidth = 3;

}  // namespace

CameraPreviewItem::CameraPreviewItem(QQuickItem* parent) : QQuickPaintedItem(parent) { setAntialiasing(true); }

QObject* CameraPreviewItem::store() const { return store_.data(); }

void CameraPreviewItem::setStore(QObject* store) {
  auto* frames = qobject_cast<CameraFrameStore*>(store);
  if (frames == store_) return;
  if (store_) disconnect(store_, nullptr, this, nullptr);
  store_ = frames;
  if (store_) connect(store_, &CameraFrameStore::imageChanged, this, &CameraPreviewItem::pictureChanged);
  emit storeChanged();
  pictureChanged();
}

void CameraPreviewItem::pictureChanged() {
  const bool has = store_ && !store_->image().isNull();
  if (has != hasPicture_) {
    hasPicture_ = has;
    emit hasPictureChanged();
  }
  update();
}

void CameraPreviewItem::paint(QPainter* painter) {
  const double side = std::min(width(), height());
  if (side <= 0) return;
  const QRectF circle((width() - side) / 2, (height() - side) / 2, side, side);
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setRenderHint(QPainter::SmoothPixmapTransform);

  QPainterPath clip;
  clip.addEllipse(circle);
  painter->save();
  painter->setClipPath(clip);
  painter->fillRect(circle, QColor(28, 28, 30));
  const QImage image = store_ ? store_->image() : QImage();
  if (!image.isNull()) {
    // Aspect fill: the picture's shorter side spans the circle, the rest is cut off.
    const double scale = side / std::min(image.width(), image.height());
    const QSizeF drawn(image.width() * scale, image.height() * scale);
    const QRectF target(circle.center().x() - drawn.width() / 2, circle.center().y() - drawn.height() / 2,
                        drawn.width(), drawn.height());
    // Mirrored about the circle's vertical axis.
    painter->translate(circle.center().x(), 0);
    painter->scale(-1, 1);
    painter->translate(-circle.center().x(), 0);
    painter->drawImage(target, image);
  }
  painter->restore();

  painter->setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.9f), kRingWidth));
  painter->setBrush(Qt::NoBrush);
  painter->drawEllipse(circle.adjusted(kRingWidth / 2, kRingWidth / 2, -kRingWidth / 2, -kRingWidth / 2));
}

}  // namespace tolvane
