#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "kit/media/video_frame.h"

namespace tolvane {

// Hands out frames of one size and takes their buffers back when the last handle is
// released, so steady-state capture and compositing allocate nothing per frame.
// Thread-safe. The pool may be destroyed while frames are still out: their buffers are
// then freed normally.
class FramePool {
 public:
  // Keeps at most `maxIdle` released buffers for reuse.
  FramePool(int width, int height, std::size_t maxIdle = 8);
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }

  // A frame whose pixels hold whatever the buffer last held (not cleared).
  VideoFrame acquire();
  // Buffers created so far (for tests and benchmarks: stays flat in steady state).
  std::size_t allocationCount() const;

 private:
  struct Shared;
  int width_;
  int height_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace tolvane
