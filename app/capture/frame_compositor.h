#pragma once

#include <optional>
#include <span>
#include <vector>

#include "app/capture/annotation_overlay.h"
#include "app/capture/bubble_layout.h"
#include "app/capture/circular_camera_painter.h"
#include "app/capture/pixel_patches.h"
#include "app/capture/pixel_rect.h"
#include "app/capture/region_blur.h"
#include "kit/base/geometry.h"
#include "kit/media/frame_pool.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// What is laid over one screen frame. Frames are shared handles, never copied; an empty
// handle means "none".
struct CompositeLayers {
  VideoFrame camera;                // latest camera picture; none: no bubble
  VideoFrame annotation;            // transparent overlay (AnnotationRenderer); any size
  std::span<const Rect> blurRects;  // unit coordinates, top-left origin
  BubbleLayout bubble;
  bool isCameraMirrored = true;  // the bubble should look like a mirror to the user

  bool isEmpty() const { return !camera && !annotation && blurRects.empty(); }
};

// Rebuilds screen frames for the recording: blur regions are blurred, the annotation
// overlay is laid over, then the round camera bubble. One compositor per recording,
// used from the video queue only (not thread-safe).
//
// Scratch buffers are kept and reused and composed frames come from the caller's pool,
// so composing allocates nothing per frame once warmed up. Annotation images are taken
// as immutable: their preparation (scaling, mapping of inked tiles) is kept for as long
// as the same image keeps coming.
class FrameCompositor {
 public:
  FrameCompositor() = default;
  FrameCompositor(const FrameCompositor&) = delete;
  FrameCompositor& operator=(const FrameCompositor&) = delete;

  // Whether compose() may draw over the screen frame itself: `exclusive` when the caller
  // holds a freshly captured frame that nothing else reads or writes.
  enum class ScreenUse { shared, exclusive };

  // The composed frame, the screen frame itself (same pixels, no copy) when there is
  // nothing to lay over it, or nothing when no output frame could be had (the caller
  // drops that frame). The output comes from `pool` when it has the screen's size.
  // Every frame meant for the video goes through here, layers or not: a frame that was
  // composed in place comes back as the captured picture once the layers are gone.
  //
  // An exclusive screen frame is composed in place when the layers cover a small part of
  // it, which saves copying the whole frame; what the layers cover is saved first. When
  // that same frame comes back to be composed again (a repeat of a still screen), the
  // saved pixels are put back into a copy, so every composite starts from the picture as
  // it was captured.
  std::optional<VideoFrame> compose(const VideoFrame& screen, const CompositeLayers& layers, FramePool* pool,
                                    ScreenUse use = ScreenUse::shared);

  // A frame for a composed picture of `size` (truncated to whole pixels): from the pool
  // when it has that size, else a new one; nothing when none can be had.
  static std::optional<VideoFrame> makePixelBuffer(FramePool* pool, Size size);

  // Standard deviation of the blur, in pixels, for a frame of `frameSize`.
  static double blurRadius(Size frameSize);
  // The whole pixels a unit rectangle covers in a frame of `frameSize` (expanded outward),
  // or nothing when that is one pixel or less in either direction.
  static std::optional<PixelRect> blurPixelRect(Rect unitRect, Size frameSize);

 private:
  // The pixel areas this frame's layers draw over.
  void planAreas(const CompositeLayers& layers, Size frameSize, bool hasAnnotation);
  bool canDrawInPlace(Size frameSize) const;
  // composedInPlace_ as it was captured, made once and kept while it is repeated.
  std::optional<VideoFrame> capturedPicture();
  // Draws the planned layers over `frame` itself.
  void drawInPlace(const VideoFrame& frame, const CompositeLayers& layers, bool hasAnnotation);
  // Draws the planned layers over a copy of `screen` in `output`.
  void drawOverCopy(const VideoFrame& screen, const CompositeLayers& layers, bool hasAnnotation,
                    const VideoFrame& output);

  RegionBlur regionBlur_;
  CircularCameraPainter cameraPainter_;
  AnnotationOverlay annotationOverlay_;
  PixelPatches patches_;          // what the last in-place composite drew over
  VideoFrame composedInPlace_;    // that frame
  VideoFrame capturedPicture_;    // a copy of it without the drawing, once one was asked for
  std::vector<PixelRect> blurAreas_;
  std::vector<PixelRect> touched_;  // every area the planned layers draw over
  double sigma_ = 0;
};

}  // namespace tolvane
