#include "app/capture/frame_compositor.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace tolvane {
namespace {

// The blur's standard deviation as a fraction of the frame's shorter side.
constexpr double kBlurRadiusFraction = 0.025;

Size sizeOf(const VideoFrame& frame) {
  return {static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

// Geometry comes from the user's drawing and layout; far-away or NaN values are
// clamped before converting, since everything is clipped to the frame anyway.
int toInt(double value) { return std::isnan(value) ? 0 : static_cast<int>(std::clamp(value, -1e9, 1e9)); }

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

std::optional<VideoFrame> FrameCompositor::compose(const VideoFrame& screen, const CompositeLayers& layers,
                                                   FramePool* pool, ScreenUse use) {
  if (!screen) return screen;
  if (layers.isEmpty()) {
    // The frame composed in place last (a still screen being repeated) still carries the
    // drawing that was just cleared away.
    if (screen.sharesPixelsWith(composedInPlace_)) return capturedPicture();
    return screen;
  }
  const Size frameSize = sizeOf(screen);
  const bool hasAnnotation =
      layers.annotation && annotationOverlay_.prepare(layers.annotation, screen.width(), screen.height());
  planAreas(layers, frameSize, hasAnnotation);

  if (screen.sharesPixelsWith(composedInPlace_)) {
    // This frame already carries an earlier composite: rebuild the captured picture in a
    // new frame first.
    auto captured = makePixelBuffer(pool, frameSize);
    if (!captured) return std::nullopt;
    libyuv::ARGBCopy(screen.data(), screen.stride(), captured->data(), captured->stride(), screen.width(),
                     screen.height());
    patches_.restore(*captured);
    if (canDrawInPlace(frameSize)) {
      drawInPlace(*captured, layers, hasAnnotation);
      return captured;
    }
    auto output = makePixelBuffer(pool, frameSize);
    if (!output) return std::nullopt;
    drawOverCopy(*captured, layers, hasAnnotation, *output);
    return output;
  }

  if (use == ScreenUse::exclusive && canDrawInPlace(frameSize)) {
    patches_.save(screen, touched_);
    composedInPlace_ = screen;
    capturedPicture_ = VideoFrame();
    drawInPlace(screen, layers, hasAnnotation);
    return screen;
  }

  auto output = makePixelBuffer(pool, frameSize);
  if (!output) return std::nullopt;
  drawOverCopy(screen, layers, hasAnnotation, *output);
  return output;
}

std::optional<VideoFrame> FrameCompositor::capturedPicture() {
  if (capturedPicture_) return capturedPicture_;
  // Not from the writer's pool: it is kept for as long as the repeats last.
  auto picture = makePixelBuffer(nullptr, sizeOf(composedInPlace_));
  if (!picture) return std::nullopt;
  libyuv::ARGBCopy(composedInPlace_.data(), composedInPlace_.stride(), picture->data(), picture->stride(),
                   composedInPlace_.width(), composedInPlace_.height());
  patches_.restore(*picture);
  capturedPicture_ = *picture;
  return capturedPicture_;
}

void FrameCompositor::planAreas(const CompositeLayers& layers, Size frameSize, bool hasAnnotation) {
  const PixelRect whole{0, 0, static_cast<int>(frameSize.width), static_cast<int>(frameSize.height)};
  sigma_ = blurRadius(frameSize);
  blurAreas_.clear();
  touched_.clear();
  for (const Rect& rect : layers.blurRects) {
    const auto area = blurPixelRect(rect, frameSize);
    if (!area) continue;
    const PixelRect clipped = area->intersected(whole);
    if (clipped.isEmpty()) continue;
    blurAreas_.push_back(clipped);
    touched_.push_back(clipped);
  }
  if (hasAnnotation) touched_.push_back(annotationOverlay_.inkBounds());
  if (layers.camera) {
    const Rect bubble = layers.bubble.rect(frameSize);
    const double left = std::floor(bubble.x);
    const double top = std::floor(bubble.y);
    touched_.push_back(PixelRect{toInt(left), toInt(top), toInt(std::ceil(bubble.x + bubble.width) - left),
                                 toInt(std::ceil(bubble.y + bubble.height) - top)}
                           .intersected(whole));
  }
}

bool FrameCompositor::canDrawInPlace(Size frameSize) const {
  // Blurring in place reads around each rectangle; another rectangle blurred there
  // first would be blurred twice.
  for (std::size_t i = 0; i < blurAreas_.size(); ++i) {
    const PixelRect reach = RegionBlur::readArea(blurAreas_[i], sigma_);
    for (std::size_t j = 0; j < blurAreas_.size(); ++j) {
      if (i != j && !reach.intersected(blurAreas_[j]).isEmpty()) return false;
    }
  }
  // Saving what is drawn over costs a copy of it; past half the frame, copying the whole
  // frame is as cheap and simpler.
  double covered = 0;
  for (const PixelRect& area : touched_) covered += static_cast<double>(area.width) * area.height;
  return covered <= frameSize.width * frameSize.height / 2;
}

void FrameCompositor::drawInPlace(const VideoFrame& frame, const CompositeLayers& layers, bool hasAnnotation) {
  for (const PixelRect& area : blurAreas_) regionBlur_.blur(frame, area, sigma_, frame);
  if (hasAnnotation) annotationOverlay_.blendInPlace(frame, annotationOverlay_.inkBounds());
  if (layers.camera) {
    cameraPainter_.paint(layers.camera, layers.bubble.rect(sizeOf(frame)), layers.isCameraMirrored, frame);
  }
}

void FrameCompositor::drawOverCopy(const VideoFrame& screen, const CompositeLayers& layers, bool hasAnnotation,
                                   const VideoFrame& output) {
  // The first pass both copies the screen and lays the annotations over it.
  if (hasAnnotation) {
    annotationOverlay_.composeOver(screen, output);
  } else {
    libyuv::ARGBCopy(screen.data(), screen.stride(), output.data(), output.stride(), screen.width(), screen.height());
  }
  // Blur belongs under the annotations: each blurred rectangle (cut from the untouched
  // screen) replaces what is there, and the annotations are laid over it again.
  for (const PixelRect& area : blurAreas_) {
    regionBlur_.blur(screen, area, sigma_, output);
    if (hasAnnotation) annotationOverlay_.blendInPlace(output, area);
  }
  if (layers.camera) {
    cameraPainter_.paint(layers.camera, layers.bubble.rect(sizeOf(screen)), layers.isCameraMirrored, output);
  }
}

}  // namespace tolvane
