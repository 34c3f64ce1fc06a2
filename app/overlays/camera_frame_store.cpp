#include "app/overlays/camera_frame_store.h"

#include <QMetaObject>

namespace tolvane {

// Holds the store weakly: the recording side may outlive the panels.
class CameraFrameStore::Sink final : public CameraPreviewSink {
 public:
  explicit Sink(CameraFrameStore* store) : store_(store) {}
  void showFrame(const VideoFrame& frame) override {
    std::lock_guard lock(mutex_);
    if (store_) store_->put(frame);
  }
  void clear() override {
    std::lock_guard lock(mutex_);
    if (store_) store_->clear();
  }
  void detach() {
    std::lock_guard lock(mutex_);
    store_ = nullptr;
  }

 private:
  std::mutex mutex_;
  CameraFrameStore* store_;
};

CameraFrameStore::CameraFrameStore(QObject* parent) : QObject(parent), sink_(std::make_shared<Sink>(this)) {}

// A frame arriving meanwhile waits for the detach and then finds no store.
CameraFrameStore::~CameraFrameStore() { sink_->detach(); }

std::shared_ptr<CameraPreviewSink> CameraFrameStore::sink() { return sink_; }

QImage CameraFrameStore::image() const {
  std::lock_guard lock(mutex_);
  return image_;
}

void CameraFrameStore::put(const VideoFrame& frame) {
  if (!frame || frame.width() <= 0 || frame.height() <= 0) return;
  // BGRA bytes with premultiplied alpha are Qt's ARGB32 premultiplied on this
  // little-endian machine; the copy lets the camera reuse its buffer.
  QImage image = QImage(frame.data(), frame.width(), frame.height(), frame.stride(),
                        QImage::Format_ARGB32_Premultiplied)
                     .copy();
  {
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
  }
  announce();
}

void CameraFrameStore::clear() {
  {
    std::lock_guard lock(mutex_);
    image_ = QImage();
  }
  announce();
}

void CameraFrameStore::announce() {
  {
    std::lock_guard lock(mutex_);
    if (announced_) return;
    announced_ = true;
  }
  QMetaObject::invokeMethod(
      this,
      [this] {
        {
          std::lock_guard lock(mutex_);
          announced_ = false;
        }
        emit imageChanged();
      },
      Qt::QueuedConnection);
}

}  // namespace tolvane
