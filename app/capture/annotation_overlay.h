#pragma once

#include <cstdint>
#include <vector>

#include "app/capture/pixel_rect.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// The annotation image as the compositor lays it over frames: scaled to the frame size
// and mapped, tile by tile, where it is not fully transparent. Annotations are mostly
// empty, so laying them over a frame is mostly a copy, and only the tiles that carry
// ink are blended.
//
// The work of preparing an image (scaling, mapping) is done once per image: annotation
// images are immutable, and the same image is laid over every frame until the strokes
// change. Not thread-safe.
class AnnotationOverlay {
 public:
  AnnotationOverlay() = default;
  AnnotationOverlay(const AnnotationOverlay&) = delete;
  AnnotationOverlay& operator=(const AnnotationOverlay&) = delete;

  // Makes `annotation` the current overlay for frames of width x height. Cheap when it
  // already is. False when no scaled copy could be made (the frame then goes without).
  bool prepare(const VideoFrame& annotation, int width, int height);

  // target = overlay over screen, for the whole frame.
  void composeOver(const VideoFrame& screen, const VideoFrame& target) const;
  // target = overlay over target, within `area`.
  void blendInPlace(const VideoFrame& target, PixelRect area) const;
  // The smallest rectangle holding every inked tile of the current overlay (empty when
  // it has no ink): all that laying it over a frame can change.
  PixelRect inkBounds() const { return inkBounds_; }

 private:
  void mapInk();
  // Calls `run(first, end)` for each run of inked tiles of `row`, in pixels, clipped to
  // [left, right).
  template <typename Run>
  void forEachInkedRun(int row, int left, int right, Run&& run) const;

  VideoFrame source_;  // the image as given; holding it keeps its address from being reused
  VideoFrame scaled_;  // at frame size, when the source is not
  const VideoFrame* current_ = nullptr;
  int tileWidth_ = 64;
  std::vector<std::uint64_t> inkedTiles_;  // per row: bit t set when tile t has ink
  PixelRect inkBounds_;
};

}  // namespace tolvane
