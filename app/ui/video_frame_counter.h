#pragma once

#include <QObject>
#include <QPointer>

namespace tolvane {

// Counts the frames a Qt Multimedia video sink (VideoOutput.videoSink) is handed, without
// taking hold of them. A QML handler on the sink's videoFrameChanged receives each frame
// as a JavaScript value, and that value keeps the decoder's buffer alive until the
// garbage collector runs, which the small JavaScript heap seldom asks for: a 1440p movie
// piled up gigabytes of frames that way, and the decoder wrote every new frame to
// freshly faulted memory. Connected here, the frame never leaves C++ and goes back to
// the decoder as soon as the window has drawn it.
class VideoFrameCounter : public QObject {
  Q_OBJECT
  Q_PROPERTY(QObject* sink READ sink WRITE setSink NOTIFY sinkChanged)
  Q_PROPERTY(int count READ count NOTIFY countChanged)

 public:
  explicit VideoFrameCounter(QObject* parent = nullptr);

  QObject* sink() const { return sink_; }
  // Anything but a video sink (one with the videoFrameChanged(QVideoFrame) signal) is
  // refused with a warning and counts nothing.
  void setSink(QObject* sink);
  int count() const { return count_; }

  Q_INVOKABLE void reset();

 signals:
  void sinkChanged();
  void countChanged();

 private slots:
  void countFrame();

 private:
  QPointer<QObject> sink_;
  QMetaObject::Connection connection_;
  int count_ = 0;
};

}  // namespace tolvane
