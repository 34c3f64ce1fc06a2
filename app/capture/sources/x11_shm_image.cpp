#include "app/capture/sources/x11_shm_image.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/x11_connection.h"

namespace tolvane {

X11ShmImage::X11ShmImage(const X11Connection& connection, ::Visual* visual, int depth, int width, int height)
    : connection_(connection), display_(connection.display()), visual_(visual), depth_(depth), width_(width), height_(height) {
  // Everything downstream reads four bytes a pixel; 8- and 16-bit displays are refused
  // here rather than misread.
  if (depth_ != 24 && depth_ != 32) {
    throw CaptureSourceError(CaptureSourceError::Kind::streamFailed,
                             "Tolvane can only record X displays with 24-bit or 32-bit colour.");
  }
  if (XShmQueryExtension(display_) == 0) return;
  image_ = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &segment_,
                           static_cast<unsigned>(width_), static_cast<unsigned>(height_));
  if (image_ == nullptr) return;
  if (image_->bits_per_pixel != 32) {
    XDestroyImage(image_);
    image_ = nullptr;
    return;
  }
  std::size_t size = static_cast<std::size_t>(image_->bytes_per_line) * static_cast<std::size_t>(image_->height);
  segment_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (segment_.shmid < 0) {
    XDestroyImage(image_);
    image_ = nullptr;
    return;
  }
  void* address = shmat(segment_.shmid, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    XDestroyImage(image_);
    image_ = nullptr;
    return;
  }
  segment_.shmaddr = image_->data = static_cast<char*>(address);
  segment_.readOnly = False;
  X11ErrorTrap trap(connection_);
  bool attached = XShmAttach(display_, &segment_) != 0 && !trap.failed();
  // Marked for removal now: the segment disappears once both sides detach, even if this
  // process dies without cleaning up.
  shmctl(segment_.shmid, IPC_RMID, nullptr);
  if (!attached) {
    shmdt(segment_.shmaddr);
    image_->data = nullptr;
    XDestroyImage(image_);
    image_ = nullptr;
    return;
  }
  mapping_.reset(reinterpret_cast<std::uint8_t*>(address), [](std::uint8_t* memory) { shmdt(memory); });
}

X11ShmImage::~X11ShmImage() {
  if (image_ == nullptr) return;
  if (mapping_) {
    // The server lets go of the segment now; this process unmaps it once the last
    // frame sharing it is gone.
    if (!connection_.isBroken()) {
      X11ErrorTrap trap(connection_);
      if (picture_ != 0) XRenderFreePicture(display_, picture_);
      if (pixmap_ != 0) XFreePixmap(display_, pixmap_);
      XShmDetach(display_, &segment_);
    }
    image_->data = nullptr;
  }
  XDestroyImage(image_);
}

bool X11ShmImage::grab(::Drawable drawable, int x, int y) {
  if (connection_.isBroken()) return false;
  X11ErrorTrap trap(connection_);
  if (mapping_) return XShmGetImage(display_, drawable, image_, x, y, AllPlanes) != 0 && !trap.failed();
  XImage* answer = XGetImage(display_, drawable, x, y, static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                             AllPlanes, ZPixmap);
  if (answer == nullptr || trap.failed() || answer->bits_per_pixel != 32) {
    if (answer != nullptr) XDestroyImage(answer);
    return false;
  }
  if (image_ != nullptr) XDestroyImage(image_);
  image_ = answer;
  return true;
}

std::uint8_t* X11ShmImage::data() const {
  return image_ != nullptr ? reinterpret_cast<std::uint8_t*>(image_->data) : nullptr;
}

int X11ShmImage::stride() const { return image_ != nullptr ? image_->bytes_per_line : 0; }

::Picture X11ShmImage::renderPicture() {
  if (hasAskedForPicture_ || !mapping_ || connection_.isBroken()) return picture_;
  hasAskedForPicture_ = true;
  int major = 0;
  int minor = 0;
  Bool sharedPixmaps = False;
  if (XShmQueryVersion(display_, &major, &minor, &sharedPixmaps) == 0 || sharedPixmaps == False ||
      XShmPixmapFormat(display_) != ZPixmap) {
    return 0;
  }
  XRenderPictFormat* format = XRenderFindVisualFormat(display_, visual_);
  if (format == nullptr) return 0;
  X11ErrorTrap trap(connection_);
  // The server lays out a pixmap's rows as this image's: 32 bits a pixel, no padding.
  ::Pixmap pixmap = XShmCreatePixmap(display_, DefaultRootWindow(display_), segment_.shmaddr, &segment_,
                                     static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                                     static_cast<unsigned>(depth_));
  ::Picture picture = XRenderCreatePicture(display_, pixmap, format, 0, nullptr);
  if (trap.failed()) {
    X11ErrorTrap cleanup(connection_);
    XFreePixmap(display_, pixmap);
    return 0;
  }
  pixmap_ = pixmap;
  picture_ = picture;
  return picture_;
}

bool X11ShmImage::canShareFrames() const { return mapping_ && stride() == VideoFrame::strideFor(width_); }

VideoFrame X11ShmImage::frame() const {
  return VideoFrame::wrap(mapping_.get(), width_, height_, stride(), [mapping = mapping_] {});
}

}  // namespace tolvane
