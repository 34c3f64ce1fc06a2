#include "app/ui/video_frame_counter.h"

namespace tolvane {

VideoFrameCounter::VideoFrameCounter(QObject* parent) : QObject(parent) {}

void VideoFrameCounter::setSink(QVideoSink* sink) {
  if (sink == sink_) return;
  disconnect(connection_);
  sink_ = sink;
  // The slot takes no argument: the frame is not even copied for it.
  if (sink) connection_ = connect(sink, &QVideoSink::videoFrameChanged, this, &VideoFrameCounter::countFrame);
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
