#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "app/capture/sources/camera_frame_decoder.h"
#include "app/capture/sources/camera_source.h"
#include "kit/base/file_descriptor.h"
#include "kit/media/frame_pool.h"

namespace tolvane {

// A V4L2 camera streaming through memory-mapped buffers. MJPEG is preferred (it is what
// USB cameras offer at 720p and 30 fps), YUYV taken otherwise; both are decoded to BGRA.
// When several pictures are waiting only the newest is decoded: the bubble shows the
// camera as it is now, never a backlog. The capture thread waits for the camera and for
// stop() at once, so stopping never waits on a camera that has gone quiet.
class V4L2CameraSource : public CameraSource {
 public:
  // Opens and configures the device. Throws CaptureSourceError (deviceUnavailable):
  // "Tolvane couldn't find that camera." when the node is gone, "Tolvane isn't allowed
  // to use that camera. ..." when the account may not open it, "That camera is in use by
  // another app." when it is busy, "Tolvane couldn't read from that camera." when it
  // offers no format Tolvane reads or cannot stream.
  explicit V4L2CameraSource(const std::filesystem::path& devicePath, int preferredWidth = 1280,
                            int preferredHeight = 720);
  ~V4L2CameraSource() override;

  void start(FrameHandler onFrame, FailureHandler onFailure) override;
  void stop() override;

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  struct MappedBuffer {
    void* start = nullptr;
    std::size_t length = 0;
  };

  void configure(int preferredWidth, int preferredHeight);
  void mapBuffers();
  void run();
  void releaseDevice();

  FileDescriptor fd_;
  FileDescriptor wake_;  // eventfd that stop() signals: the thread waits on it and the camera
  int width_ = 0;
  int height_ = 0;
  int bytesPerLine_ = 0;
  CameraPixelFormat format_ = CameraPixelFormat::yuyv;
  std::vector<MappedBuffer> buffers_;
  std::unique_ptr<FramePool> pool_;
  std::unique_ptr<CameraFrameDecoder> decoder_;
  FrameHandler onFrame_;
  FailureHandler onFailure_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace tolvane
