#include "kit/media/video_frame.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace tolvane {
namespace {

constexpr std::size_t kAlignment = 64;

}  // namespace

int VideoFrame::strideFor(int width) {
  const auto bytes = static_cast<std::size_t>(width) * 4;
  return static_cast<int>((bytes + kAlignment - 1) / kAlignment * kAlignment);
}

VideoFrame VideoFrame::allocate(int width, int height) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("frame dimensions must be positive");
  const int stride = strideFor(width);
  const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  void* memory = std::aligned_alloc(kAlignment, size);
  if (memory == nullptr) throw std::bad_alloc();
  std::memset(memory, 0, size);
  std::shared_ptr<void> storage(memory, [](void* p) { std::free(p); });
  return VideoFrame(std::move(storage), static_cast<std::uint8_t*>(memory), width, height, stride);
}

VideoFrame VideoFrame::wrap(std::uint8_t* pixels, int width, int height, int stride, std::function<void()> release) {
  std::shared_ptr<void> storage(pixels, [release = std::move(release)](void*) {
    if (release) release();
  });
  return VideoFrame(std::move(storage), pixels, width, height, stride);
}

void VideoFrame::fill(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) const {
  const std::uint32_t value = static_cast<std::uint32_t>(b) | (static_cast<std::uint32_t>(g) << 8) |
                              (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(a) << 24);
  for (int y = 0; y < height_; ++y) {
    auto* p = row(y);
    for (int x = 0; x < width_; ++x) std::memcpy(p + static_cast<std::ptrdiff_t>(x) * 4, &value, 4);
  }
}

}  // namespace tolvane
