#pragma once

#include <QImage>
#include <QObject>
#include <mutex>

#include "app/core/camera_preview.h"

namespace tolvane {

// The latest camera picture for the bubble preview. The camera hands frames over on its
// own thread; the store keeps the newest one and tells the GUI thread once per batch, so
// a slow repaint drops frames instead of queueing them.
class CameraFrameStore : public QObject {
  Q_OBJECT

 public:
  explicit CameraFrameStore(QObject* parent = nullptr);
  ~CameraFrameStore() override;

  // The preview sink the recording side feeds; it keeps this store alive as long as it
  // runs and forgets it quietly once the store is gone.
  std::shared_ptr<CameraPreviewSink> sink();

  // The newest picture; null when the camera is off.
  QImage image() const;

  // Any thread.
  void put(const VideoFrame& frame);
  void clear();

 signals:
  // On the GUI thread.
  void imageChanged();

 private:
  class Sink;

  void announce();

  mutable std::mutex mutex_;
  QImage image_;
  bool announced_ = false;
  std::shared_ptr<Sink> sink_;
};

}  // namespace tolvane
