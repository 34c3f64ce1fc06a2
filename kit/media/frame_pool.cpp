#include "kit/media/frame_pool.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace tolvane {

struct FramePool::Buffer {
  explicit Buffer(std::size_t size) : pixels(static_cast<std::uint8_t*>(std::aligned_alloc(64, size))) {
    if (pixels == nullptr) throw std::bad_alloc();
  }
  ~Buffer() { std::free(pixels); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  std::uint8_t* pixels;
};

FramePool::FramePool(int width, int height, std::size_t maxBuffers)
    : width_(width), height_(height), maxBuffers_(maxBuffers) {
  buffers_.reserve(maxBuffers_);
}

FramePool::~FramePool() = default;

VideoFrame FramePool::acquire() {
  const int stride = VideoFrame::strideFor(width_);
  const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_);
  std::shared_ptr<Buffer> buffer;
  {
    std::lock_guard lock(mutex_);
    // A buffer only the pool still references is free: no frame handle exists that
    // could copy it concurrently. Handing out a copy of the pool's own shared_ptr costs
    // no allocation.
    for (const auto& candidate : buffers_) {
      if (candidate.use_count() == 1) {
        // Pairs with the release decrement of the last handle, so its writes to the
        // pixels are complete before they are handed out again.
        std::atomic_thread_fence(std::memory_order_acquire);
        buffer = candidate;
        break;
      }
    }
    if (!buffer) {
      ++allocations_;
      buffer = std::make_shared<Buffer>(size);
      if (buffers_.size() < maxBuffers_) buffers_.push_back(buffer);
    }
  }
  std::uint8_t* pixels = buffer->pixels;
  return VideoFrame(std::move(buffer), pixels, width_, height_, stride);
}

std::size_t FramePool::allocationCount() const {
  std::lock_guard lock(mutex_);
  return allocations_;
}

}  // namespace tolvane
