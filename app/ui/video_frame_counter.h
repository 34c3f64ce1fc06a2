#pragma once

#include <QObject>
#include <QPointer>
#include <QVideoSink>

namespace tolvane {

// Counts the frames a video sink (ScaledVideo.videoSink) is handed, without taking hold
// of them. A QML handler on the sink's videoFrameChanged receives each frame as a
// JavaScript value, and that value keeps the decoder's buffer alive until the garbage
// collector runs, which the small JavaScript heap seldom asks for: a 1440p movie piled up
// gigabytes of frames that way, and the decoder wrote every new frame to freshly faulted
// memory. Connected here, the frame never leaves C++.
class VideoFrameCounter : public QObject {
  Q_OBJECT
  Q_PROPERTY(QVideoSink* sink READ sink WRITE setSink NOTIFY sinkChanged)
  Q_PROPERTY(int count READ count NOTIFY countChanged)

 public:
  explicit VideoFrameCounter(QObject* parent = nullptr);

  QVideoSink* sink() const { return sink_; }
  void setSink(QVideoSink* sink);
  int count() const { return count_; }

  Q_INVOKABLE void reset();

 signals:
  void sinkChanged();
  void countChanged();

 private:
  void countFrame();

  QPointer<QVideoSink> sink_;
  QMetaObject::Connection connection_;
  int count_ = 0;
};

}  // namespace tolvane
