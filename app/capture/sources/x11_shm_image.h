#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <memory>

#include "kit/media/video_frame.h"

namespace tolvane {

class X11Connection;

// A picture buffer the X server writes into directly through shared memory (MIT-SHM),
// so reading a 1920×1080 screen costs one copy on the server's side. Falls back to
// ordinary GetImage requests when the server has no MIT-SHM (a remote display).
//
// A shared picture can also leave as a frame without being copied (`frame()`): the
// frame keeps the memory mapped for as long as it lives, even past this object, and the
// image counts as busy until the last such frame is gone.
class X11ShmImage {
 public:
  // Throws CaptureSourceError when no buffer can be set up.
  X11ShmImage(const X11Connection& connection, ::Visual* visual, int depth, int width, int height);
  ~X11ShmImage();
  X11ShmImage(const X11ShmImage&) = delete;
  X11ShmImage& operator=(const X11ShmImage&) = delete;

  // Reads the rectangle at (x, y) of `drawable`, of this image's size. False when the
  // server refused (the drawable is gone or the rectangle lies outside it). Not to be
  // called while the image is busy.
  bool grab(::Drawable drawable, int x, int y);

  int width() const { return width_; }
  int height() const { return height_; }
  std::uint8_t* data() const;
  int stride() const;

  // Whether `frame()` can hand out this picture: it lives in shared memory and its rows
  // are laid out as frames expect.
  bool canShareFrames() const;
  // The current picture as a frame over the same memory; only when canShareFrames().
  VideoFrame frame() const;
  // True while a frame from `frame()` is still alive.
  bool isBusy() const { return mapping_ != nullptr && mapping_.use_count() > 1; }

  // The picture as the server's own XRender picture over the same shared memory, for
  // drawing into what was read without another copy; 0 when the server has no shared
  // pixmaps. Made on first use.
  ::Picture renderPicture();

 private:
  const X11Connection& connection_;
  ::Display* display_;
  ::Visual* visual_;
  int depth_;
  int width_;
  int height_;
  XImage* image_ = nullptr;  // the shared image, or the last plain GetImage answer
  XShmSegmentInfo segment_{};
  std::shared_ptr<std::uint8_t> mapping_;  // the attached segment; detached with its last owner
  ::Pixmap pixmap_ = 0;  // over the segment, for renderPicture()
  ::Picture picture_ = 0;
  bool hasAskedForPicture_ = false;
};

}  // namespace tolvane
