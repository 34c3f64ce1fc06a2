#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tolvane {

// A video frame in BGRA order, 8 bits per channel, premultiplied alpha, top row first.
// A handle: copying it shares the pixels (reference-counted), never copies them. Rows
// are `stride` bytes apart, a multiple of 64 so that SIMD code can run on whole rows.
class VideoFrame {
 public:
  VideoFrame() = default;

  // A frame with fresh, zeroed (fully transparent) pixels.
  static VideoFrame allocate(int width, int height);
  // Wraps pixels owned elsewhere; `release` runs when the last handle goes away.
  static VideoFrame wrap(std::uint8_t* pixels, int width, int height, int stride, std::function<void()> release);

  static int strideFor(int width);

  explicit operator bool() const { return storage_ != nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return stride_; }
  std::size_t byteSize() const { return static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_); }

  std::uint8_t* data() const { return pixels_; }
  std::uint8_t* row(int y) const { return pixels_ + static_cast<std::ptrdiff_t>(y) * stride_; }
  // Pointer to pixel (x, y): four bytes B, G, R, A.
  std::uint8_t* pixel(int x, int y) const { return row(y) + static_cast<std::ptrdiff_t>(x) * 4; }

  // Whether both handles point at the same pixels.
  bool sharesPixelsWith(const VideoFrame& other) const { return pixels_ == other.pixels_ && pixels_ != nullptr; }

  // Fills every pixel with one BGRA value.
  void fill(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) const;

 private:
  friend class FramePool;
  VideoFrame(std::shared_ptr<void> storage, std::uint8_t* pixels, int width, int height, int stride)
      : storage_(std::move(storage)), pixels_(pixels), width_(width), height_(height), stride_(stride) {}

  std::shared_ptr<void> storage_;
  std::uint8_t* pixels_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
};

}  // namespace tolvane
