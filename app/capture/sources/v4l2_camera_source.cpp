#include "app/capture/sources/v4l2_camera_source.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "app/capture/sources/capture_source_error.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

constexpr unsigned bufferCount = 4;
const char* const notFound = "Tolvane couldn't find that camera.";
const char* const inUse = "That camera is in use by another app.";
const char* const denied =
    "Tolvane isn't allowed to use that camera. Make sure your account may use the camera (the video group).";
const char* const unreadable = "Tolvane couldn't read from that camera.";

int xioctl(int fd, unsigned long request, void* argument) {
  int status = 0;
  do {
    status = ::ioctl(fd, request, argument);
  } while (status < 0 && errno == EINTR);
  return status;
}

const char* openFailure(int error) {
  if (error == ENOENT || error == ENODEV || error == ENXIO) return notFound;
  // Camera nodes belong to the video group; an account outside it is refused here.
  if (error == EACCES || error == EPERM) return denied;
  return inUse;
}

[[noreturn]] void fail(const char* message) {
  throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable, message);
}

bool supportsFormat(int fd, std::uint32_t pixelFormat) {
  v4l2_fmtdesc description{};
  description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (description.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index) {
    if (description.pixelformat == pixelFormat) return true;
  }
  return false;
}

}  // namespace

V4L2CameraSource::V4L2CameraSource(const std::filesystem::path& devicePath, int preferredWidth, int preferredHeight) {
  fd_.reset(::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd_.isOpen()) fail(openFailure(errno));
  try {
    configure(preferredWidth, preferredHeight);
    mapBuffers();
  } catch (...) {
    releaseDevice();
    throw;
  }
  wake_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!wake_.isOpen()) {
    releaseDevice();
    fail(unreadable);
  }
  pool_ = std::make_unique<FramePool>(width_, height_, 3);
  decoder_ = std::make_unique<CameraFrameDecoder>(format_, width_, height_, bytesPerLine_);
}

V4L2CameraSource::~V4L2CameraSource() {
  stop();
  releaseDevice();
}

void V4L2CameraSource::configure(int preferredWidth, int preferredHeight) {
  std::optional<std::uint32_t> pixelFormat;
  if (supportsFormat(fd_.get(), V4L2_PIX_FMT_MJPEG)) {
    pixelFormat = V4L2_PIX_FMT_MJPEG;
    format_ = CameraPixelFormat::mjpeg;
  } else if (supportsFormat(fd_.get(), V4L2_PIX_FMT_YUYV)) {
    pixelFormat = V4L2_PIX_FMT_YUYV;
    format_ = CameraPixelFormat::yuyv;
  }
  if (!pixelFormat) fail(unreadable);

  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = static_cast<std::uint32_t>(preferredWidth);
  format.fmt.pix.height = static_cast<std::uint32_t>(preferredHeight);
  format.fmt.pix.pixelformat = *pixelFormat;
  format.fmt.pix.field = V4L2_FIELD_NONE;
  // The driver picks the nearest size it has and says so in the answer.
  if (xioctl(fd_.get(), VIDIOC_S_FMT, &format) < 0) fail(errno == EBUSY ? inUse : unreadable);
  if (format.fmt.pix.pixelformat != *pixelFormat) fail(unreadable);
  width_ = static_cast<int>(format.fmt.pix.width);
  height_ = static_cast<int>(format.fmt.pix.height);
  bytesPerLine_ = static_cast<int>(format.fmt.pix.bytesperline);
  if (format_ == CameraPixelFormat::yuyv && bytesPerLine_ < width_ * 2) bytesPerLine_ = width_ * 2;

  // 30 frames a second when the camera can; a camera that cannot keeps its own rate.
  v4l2_streamparm parameters{};
  parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  parameters.parm.capture.timeperframe.numerator = 1;
  parameters.parm.capture.timeperframe.denominator = 30;
  xioctl(fd_.get(), VIDIOC_S_PARM, &parameters);
}

void V4L2CameraSource::mapBuffers() {
  v4l2_requestbuffers request{};
  request.count = bufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (xioctl(fd_.get(), VIDIOC_REQBUFS, &request) < 0) fail(errno == EBUSY ? inUse : unreadable);
  if (request.count < 2) fail(unreadable);
  for (unsigned i = 0; i < request.count; ++i) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = i;
    if (xioctl(fd_.get(), VIDIOC_QUERYBUF, &buffer) < 0) fail(unreadable);
    void* start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), buffer.m.offset);
    if (start == MAP_FAILED) fail(unreadable);
    buffers_.push_back(MappedBuffer{start, buffer.length});
  }
}

void V4L2CameraSource::releaseDevice() {
  for (const MappedBuffer& buffer : buffers_) ::munmap(buffer.start, buffer.length);
  buffers_.clear();
  fd_.reset();
}

void V4L2CameraSource::start(FrameHandler onFrame, FailureHandler onFailure) {
  onFrame_ = std::move(onFrame);
  onFailure_ = std::move(onFailure);
  for (unsigned i = 0; i < buffers_.size(); ++i) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = i;
    if (xioctl(fd_.get(), VIDIOC_QBUF, &buffer) < 0) fail(unreadable);
  }
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (xioctl(fd_.get(), VIDIOC_STREAMON, &type) < 0) fail(errno == EBUSY ? inUse : unreadable);
  thread_ = std::thread([this] { run(); });
}

void V4L2CameraSource::stop() {
  stopping_ = true;
  if (!thread_.joinable()) return;
  // Wakes the thread from its wait for the next picture, however long the camera takes.
  const std::uint64_t one = 1;
  if (::write(wake_.get(), &one, sizeof one) < 0) Logger("capture").error("couldn't wake the camera thread");
  thread_.join();
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  xioctl(fd_.get(), VIDIOC_STREAMOFF, &type);
}

void V4L2CameraSource::run() {
  while (!stopping_) {
    pollfd descriptors[2] = {{fd_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    pollfd& descriptor = descriptors[0];
    int ready = ::poll(descriptors, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (stopping_) break;
    if (ready < 0 || (descriptor.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      Logger("capture").error("camera stopped streaming: {}", std::strerror(errno));
      onFailure_(unreadable);
      return;
    }
    if ((descriptor.revents & POLLIN) == 0) continue;

    // Take every picture that is waiting and keep only the newest.
    std::optional<v4l2_buffer> newest;
    while (true) {
      v4l2_buffer buffer{};
      buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buffer.memory = V4L2_MEMORY_MMAP;
      if (xioctl(fd_.get(), VIDIOC_DQBUF, &buffer) < 0) break;
      if (newest) xioctl(fd_.get(), VIDIOC_QBUF, &*newest);
      newest = buffer;
    }
    if (!newest) continue;
    bool isDamaged = (newest->flags & V4L2_BUF_FLAG_ERROR) != 0;
    VideoFrame frame = pool_->acquire();
    bool decoded = !isDamaged && decoder_->decode(static_cast<const std::uint8_t*>(buffers_[newest->index].start),
                                                  newest->bytesused, frame);
    xioctl(fd_.get(), VIDIOC_QBUF, &*newest);
    if (decoded) onFrame_(frame);
  }
}

}  // namespace tolvane
