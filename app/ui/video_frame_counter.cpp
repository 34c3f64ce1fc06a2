#include "app/ui/video_frame_counter.h"

#include <QMetaMethod>

#include "kit/base/log.h"

namespace tolvane {

namespace {

const Logger& counterLog() {
  static const Logger logger("ui");
  return logger;
}

}  // namespace

VideoFrameCounter::VideoFrameCounter(QObject* parent) : QObject(parent) {}

void VideoFrameCounter::setSink(QObject* sink) {
  if (sink == sink_) return;
  disconnect(connection_);
  sink_ = nullptr;
  if (sink) {
    // Found by name, so that the views need not link Qt Multimedia for one signal; the
    // slot takes no argument, so the frame is not even copied for it.
    const QMetaObject* type = sink->metaObject();
    const int signal = type->indexOfSignal("videoFrameChanged(QVideoFrame)");
    if (signal < 0) {
      counterLog().warning("{} is not a video sink; its frames are not counted", type->className());
    } else {
      const QMetaMethod slot = staticMetaObject.method(staticMetaObject.indexOfSlot("countFrame()"));
      connection_ = connect(sink, type->method(signal), this, slot);
      sink_ = sink;
    }
  }
  emit sinkChanged();
}

void VideoFrameCounter::reset() {
  if (count_ == 0) return;
  count_ = 0;
  emit countChanged();
}

void VideoFrameCounter::countFrame() {
  ++count_;
  emit countChanged();
}

}  // namespace tolvane
