#include "app/capture/frame_compositor.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

namespace tolvane {
namespace {

// The blur's standard deviation as a fraction of the frame's shorter side.
constexpr double kBlurRadiusFraction = 0.025;

Size sizeOf(const VideoFrame& frame) {
  return {static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

// Lays `overlay` (premultiplied) over `background` into `target`, within `area`.
void blendOver(const VideoFrame& overlay, const VideoFrame& background, const VideoFrame& target, PixelRect area) {
  libyuv::ARGBBlend(overlay.pixel(area.x, area.y), overlay.stride(), background.pixel(area.x, area.y),
                    background.stride(), target.pixel(area.x, area.y), target.stride(), area.width, area.height);
}

// Bilinear scaling, pixel centres aligned, edges repeated. (libyuv's bilinear scaler
// turns opaque 255 into 253, which would let the screen show through annotations.)
// Premultiplied pixels scale correctly as they are.
void scaleBilinear(const VideoFrame& source, const VideoFrame& target) {
  const auto positions = [](int targetLength, int sourceLength) {
    std::vector<std::pair<int, float>> result(static_cast<std::size_t>(targetLength));
    const double ratio = static_cast<double>(sourceLength) / targetLength;
    for (int i = 0; i < targetLength; ++i) {
      const double position = std::clamp((i + 0.5) * ratio - 0.5, 0.0, sourceLength - 1.0);
      const int index = static_cast<int>(position);
      result[static_cast<std::size_t>(i)] = {index, static_cast<float>(position - index)};
    }
    return result;
  };
  const auto columns = positions(target.width(), source.width());
  const auto rows = positions(target.height(), source.height());
  const int lastColumn = source.width() - 1;
  const int lastRow = source.height() - 1;
  for (int y = 0; y < target.height(); ++y) {
    const auto [sourceRow, rowWeight] = rows[static_cast<std::size_t>(y)];
    const std::uint8_t* upper = source.row(sourceRow);
    const std::uint8_t* lower = source.row(std::min(sourceRow + 1, lastRow));
    std::uint8_t* out = target.row(y);
    for (int x = 0; x < target.width(); ++x) {
      const auto [column, columnWeight] = columns[static_cast<std::size_t>(x)];
      const int left = column * 4;
      const int right = std::min(column + 1, lastColumn) * 4;
      for (int c = 0; c < 4; ++c) {
        const float top = upper[left + c] + (upper[right + c] - upper[left + c]) * columnWeight;
        const float bottom = lower[left + c] + (lower[right + c] - lower[left + c]) * columnWeight;
        out[x * 4 + c] = static_cast<std::uint8_t>(top + (bottom - top) * rowWeight + 0.5f);
      }
    }
  }
}

}  // namespace

double FrameCompositor::blurRadius(Size frameSize) {
  return std::min(frameSize.width, frameSize.height) * kBlurRadiusFraction;
}

std::optional<PixelRect> FrameCompositor::blurPixelRect(Rect unitRect, Size frameSize) {
  const double left = std::floor(unitRect.x * frameSize.width);
  const double top = std::floor(unitRect.y * frameSize.height);
  const double right = std::ceil((unitRect.x + unitRect.width) * frameSize.width);
  const double bottom = std::ceil((unitRect.y + unitRect.height) * frameSize.height);
  // Written so that NaN fails too.
  if (!(right - left > 1) || !(bottom - top > 1)) return std::nullopt;
  if (!std::isfinite(right - left) || !std::isfinite(bottom - top)) return std::nullopt;
  // Clamp far-away values before converting; the blur clips to the frame anyway.
  const auto toInt = [](double value) { return static_cast<int>(std::clamp(value, -1e9, 1e9)); };
  const int x = toInt(left);
  const int y = toInt(top);
  return PixelRect{x, y, toInt(right) - x, toInt(bottom) - y};
}

std::optional<VideoFrame> FrameCompositor::makePixelBuffer(FramePool* pool, Size size) {
  if (!(size.width >= 1) || !(size.height >= 1) || size.width > 1e5 || size.height > 1e5) return std::nullopt;
  const int width = static_cast<int>(size.width);
  const int height = static_cast<int>(size.height);
  try {
    if (pool != nullptr && pool->width() == width && pool->height() == height) return pool->acquire();
    return VideoFrame::allocate(width, height);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

void FrameCompositor::applyBlur(const VideoFrame& source, std::span<const Rect> rects, const VideoFrame& target) {
  const Size frameSize = sizeOf(source);
  const double sigma = blurRadius(frameSize);
  for (const Rect& rect : rects) {
    if (const auto area = blurPixelRect(rect, frameSize)) regionBlur_.blur(source, *area, sigma, target);
  }
}

VideoFrame FrameCompositor::circularCameraImage(const VideoFrame& camera, int diameter, bool isMirrored) {
  VideoFrame image = VideoFrame::allocate(std::max(diameter, 1), std::max(diameter, 1));
  CircularCameraPainter painter;
  painter.paint(camera, {0, 0, static_cast<double>(diameter), static_cast<double>(diameter)}, isMirrored, image);
  return image;
}

const VideoFrame* FrameCompositor::annotationAtSize(const VideoFrame& annotation, int width, int height) {
  if (annotation.width() == width && annotation.height() == height) return &annotation;
  const bool isCurrent = scaledAnnotationSource_.sharesPixelsWith(annotation) && scaledAnnotation_ &&
                         scaledAnnotation_.width() == width && scaledAnnotation_.height() == height;
  if (isCurrent) return &scaledAnnotation_;
  try {
    if (!scaledAnnotation_ || scaledAnnotation_.width() != width || scaledAnnotation_.height() != height) {
      scaledAnnotation_ = VideoFrame::allocate(width, height);
    }
  } catch (const std::bad_alloc&) {
    scaledAnnotation_ = VideoFrame();
    return nullptr;
  }
  // Runs only when the overlay changes, never per frame.
  scaleBilinear(annotation, scaledAnnotation_);
  scaledAnnotationSource_ = annotation;  // holding it keeps its address from being reused
  return &scaledAnnotation_;
}

std::optional<VideoFrame> FrameCompositor::compose(const VideoFrame& screen, const CompositeLayers& layers,
                                                   FramePool* pool) {
  if (layers.isEmpty() || !screen) return screen;
  const Size frameSize = sizeOf(screen);
  auto output = makePixelBuffer(pool, frameSize);
  if (!output) return std::nullopt;

  const PixelRect whole{0, 0, screen.width(), screen.height()};
  const VideoFrame* annotation =
      layers.annotation ? annotationAtSize(layers.annotation, screen.width(), screen.height()) : nullptr;
  // The first pass both copies the screen and lays the annotations over it.
  if (annotation != nullptr) {
    blendOver(*annotation, screen, *output, whole);
  } else {
    libyuv::ARGBCopy(screen.data(), screen.stride(), output->data(), output->stride(), screen.width(),
                     screen.height());
  }

  // Blur belongs under the annotations: each blurred rectangle (cut from the untouched
  // screen) replaces what is there, and the annotations are laid over it again.
  const double sigma = blurRadius(frameSize);
  for (const Rect& rect : layers.blurRects) {
    const auto area = blurPixelRect(rect, frameSize);
    if (!area) continue;
    const PixelRect clipped = area->intersected(whole);
    if (clipped.isEmpty()) continue;
    regionBlur_.blur(screen, clipped, sigma, *output);
    if (annotation != nullptr) blendOver(*annotation, *output, *output, clipped);
  }

  if (layers.camera) {
    cameraPainter_.paint(layers.camera, layers.bubble.rect(frameSize), layers.isCameraMirrored, *output);
  }
  return output;
}

}  // namespace tolvane
