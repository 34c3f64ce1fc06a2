#include "kit/media/frame_pool.h"

#include <cstdlib>
#include <new>

namespace tolvane {

struct FramePool::Shared {
  std::mutex mutex;
  std::vector<void*> idle;
  std::size_t maxIdle = 0;
  std::size_t allocations = 0;
  bool open = true;

  ~Shared() {
    for (void* p : idle) std::free(p);
  }
};

FramePool::FramePool(int width, int height, std::size_t maxIdle)
    : width_(width), height_(height), shared_(std::make_shared<Shared>()) {
  shared_->maxIdle = maxIdle;
}

FramePool::~FramePool() {
  std::lock_guard lock(shared_->mutex);
  shared_->open = false;
}

VideoFrame FramePool::acquire() {
  const int stride = VideoFrame::strideFor(width_);
  const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_);
  void* memory = nullptr;
  {
    std::lock_guard lock(shared_->mutex);
    if (!shared_->idle.empty()) {
      memory = shared_->idle.back();
      shared_->idle.pop_back();
    } else {
      ++shared_->allocations;
    }
  }
  if (memory == nullptr) {
    memory = std::aligned_alloc(64, size);
    if (memory == nullptr) throw std::bad_alloc();
  }
  // The buffer goes back to the pool while the pool is alive and has room.
  std::weak_ptr<Shared> weak = shared_;
  std::shared_ptr<void> storage(memory, [weak](void* p) {
    if (auto pool = weak.lock()) {
      std::lock_guard lock(pool->mutex);
      if (pool->open && pool->idle.size() < pool->maxIdle) {
        pool->idle.push_back(p);
        return;
      }
    }
    std::free(p);
  });
  return VideoFrame(std::move(storage), static_cast<std::uint8_t*>(memory), width_, height_, stride);
}

std::size_t FramePool::allocationCount() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->allocations;
}

}  // namespace tolvane
