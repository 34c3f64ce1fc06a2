#include "app/ui/video_frame_scaler.h"

#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

#include <utility>
#include <vector>

namespace tolvane {

namespace {

// The YUV-to-RGB matrix the frame was encoded with; recordings are BT.601, limited range.
const libyuv::YuvConstants* matrixOf(const QVideoFrameFormat& format) {
  const bool full = format.colorRange() == QVideoFrameFormat::ColorRange_Full;
  if (format.colorSpace() == QVideoFrameFormat::ColorSpace_BT709) {
    return full ? &libyuv::kYuvF709Constants : &libyuv::kYuvH709Constants;
  }
  return full ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
}

// I420 (or YV12, its planes swapped) scaled and converted: the box filter averages every
// source pixel, so the small letters of a screen recording stay legible where sampling
// would drop strokes.
QImage scalePlanar(QVideoFrame& frame, QSize out, bool swappedChroma) {
  if (!frame.map(QVideoFrame::ReadOnly)) return {};
  const int u = swappedChroma ? 2 : 1;
  const int v = swappedChroma ? 1 : 2;
  const int width = out.width(), height = out.height();
  const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  std::vector<std::uint8_t> planes(static_cast<std::size_t>(width) * height +
                                   2 * static_cast<std::size_t>(chromaWidth) * chromaHeight);
  std::uint8_t* y = planes.data();
  std::uint8_t* cb = y + static_cast<std::size_t>(width) * height;
  std::uint8_t* cr = cb + static_cast<std::size_t>(chromaWidth) * chromaHeight;
  const int failed = libyuv::I420Scale(frame.bits(0), frame.bytesPerLine(0), frame.bits(u), frame.bytesPerLine(u),
                                       frame.bits(v), frame.bytesPerLine(v), frame.width(), frame.height(), y, width,
                                       cb, chromaWidth, cr, chromaWidth, width, height, libyuv::kFilterBox);
  frame.unmap();
  if (failed) return {};
  // libyuv's ARGB is B, G, R, A in memory: QImage's RGB32 on a little-endian machine.
  QImage image(out, QImage::Format_RGB32);
  libyuv::I420ToARGBMatrix(y, width, cb, chromaWidth, cr, chromaWidth, image.bits(),
                           static_cast<int>(image.bytesPerLine()), matrixOf(frame.surfaceFormat()), width, height);
  return image;
}

}  // namespace

VideoFrameScaler::VideoFrameScaler(std::function<void()> pictureReady) : pictureReady_(std::move(pictureReady)) {}

VideoFrameScaler::~VideoFrameScaler() = default;

void VideoFrameScaler::offer(const QVideoFrame& frame, QSize box) {
  std::lock_guard lock(mutex_);
  waiting_ = Job{frame, box};  // a handle: the decoder's buffer is kept, not copied
  if (posted_) return;
  posted_ = true;
  worker_.async([this] { makeWaiting(); });
}

std::optional<QImage> VideoFrameScaler::takePicture() {
  std::lock_guard lock(mutex_);
  return std::exchange(picture_, std::nullopt);
}

void VideoFrameScaler::makeWaiting() {
  Job job;
  {
    std::lock_guard lock(mutex_);
    posted_ = false;
    if (!waiting_) return;
    job = *std::exchange(waiting_, std::nullopt);
  }
  QImage picture = job.frame.isValid() ? scaled(job.frame, job.box) : QImage();
  job.frame = QVideoFrame();  // the decoder's buffer goes back now
  {
    std::lock_guard lock(mutex_);
    picture_ = std::move(picture);
  }
  pictureReady_();
}

QImage VideoFrameScaler::scaled(const QVideoFrame& source, QSize box) {
  const QSize size = source.size();
  if (size.isEmpty() || box.isEmpty()) return {};
  QSize out = size.scaled(box, Qt::KeepAspectRatio);
  if (out.width() > size.width() || out.height() > size.height()) out = size;
  out = out.expandedTo(QSize(1, 1));
  QVideoFrame frame(source);  // mapping is not const
  switch (frame.pixelFormat()) {
    case QVideoFrameFormat::Format_YUV420P:
      return scalePlanar(frame, out, false);
    case QVideoFrameFormat::Format_YV12:
      return scalePlanar(frame, out, true);
    default:
      // Not what the decoder hands out for our movies: Qt's own conversion, slower.
      return frame.toImage().scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(
          QImage::Format_RGB32);
  }
}

}  // namespace tolvane
