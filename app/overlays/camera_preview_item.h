#pragma once

#include <QPointer>
#include <QQuickPaintedItem>

namespace tolvane {

class CameraFrameStore;

// The live camera in the bubble preview: the newest picture of a CameraFrameStore,
// mirrored (the bubble in the video is a mirror image too), filling a circle with a white
// ring. Without a picture the circle stays dark.
class CameraPreviewItem : public QQuickPaintedItem {
  Q_OBJECT
  Q_PROPERTY(QObject* store READ store WRITE setStore NOTIFY storeChanged)
  Q_PROPERTY(bool hasPicture READ hasPicture NOTIFY hasPictureChanged)

 public:
  explicit CameraPreviewItem(QQuickItem* parent = nullptr);

  QObject* store() const;
  void setStore(QObject* store);
  bool hasPicture() const { return hasPicture_; }

  void paint(QPainter* painter) override;

 signals:
  void storeChanged();
  void hasPictureChanged();

 private:
  void pictureChanged();

  QPointer<CameraFrameStore> store_;
  bool hasPicture_ = false;
};

}  // namespace tolvane
