#include "app/capture/frame_compositor.h"

#include <algorithm>
#include <cmath>
#include <new>

#include <libyuv/planar_functions.h>

namespace tolvane {
namespace {

// The blur's standard deviation as a fraction of the frame's shorter side.
constexpr double kBlurRadiusFraction = 0.025;

Size sizeOf(const VideoFrame& frame) {
  return {static_cast<double>(frame.width()), static_cast<double>(frame.height())};
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

std::optional<VideoFrame> FrameCompositor::compose(const VideoFrame& screen, const CompositeLayers& layers,
                                                   FramePool* pool) {
  if (layers.isEmpty() || !screen) return screen;
  const Size frameSize = sizeOf(screen);
  auto output = makePixelBuffer(pool, frameSize);
  if (!output) return std::nullopt;

  const PixelRect whole{0, 0, screen.width(), screen.height()};
  const bool hasAnnotation =
      layers.annotation && annotationOverlay_.prepare(layers.annotation, screen.width(), screen.height());
  // The first pass both copies the screen and lays the annotations over it.
  if (hasAnnotation) {
    annotationOverlay_.composeOver(screen, *output);
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
    if (hasAnnotation) annotationOverlay_.blendInPlace(*output, clipped);
  }

  if (layers.camera) {
    cameraPainter_.paint(layers.camera, layers.bubble.rect(frameSize), layers.isCameraMirrored, *output);
  }
  return output;
}

}  // namespace tolvane
