#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "kit/media/video_frame.h"

namespace tolvane {

// Hands out frames of one size and reuses their buffers once the last handle is gone, so
// steady-state capture and compositing allocate nothing per frame: not the pixels, and
// not the reference count either (each pooled buffer keeps one control block for life).
// Thread-safe. The pool may be destroyed while frames are still out: their buffers are
// then freed with the last handle.
class FramePool {
 public:
  // Pools at most `maxBuffers` buffers; a frame asked for while all of them are out gets
  // a buffer of its own that is freed after use.
  FramePool(int width, int height, std::size_t maxBuffers = 8);
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }

  // A frame whose pixels hold whatever the buffer last held (not cleared).
  VideoFrame acquire();
  // Buffers allocated so far, pooled or not (stays flat in steady state).
  std::size_t allocationCount() const;

 private:
  struct Buffer;
  int width_;
  int height_;
  std::size_t maxBuffers_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Buffer>> buffers_;
  std::size_t allocations_ = 0;
};

}  // namespace tolvane
