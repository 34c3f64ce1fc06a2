#include "app/capture/sources/x11_shm_image.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/x11_connection.h"

namespace tolvane {

X11ShmImage::X11ShmImage(const X11Connection& connection, ::Visual* visual, int depth, int width, int height)
    : connection_(connection), display_(connection.display()), visual_(visual), depth_(depth), width_(width), height_(height) {
  if (XShmQueryExtension(display_) == 0) return;
  image_ = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &segment_,
                           static_cast<unsigned>(width_), static_cast<unsigned>(height_));
  if (image_ == nullptr) return;
  std::size_t size = static_cast<std::size_t>(image_->bytes_per_line) * static_cast<std::size_t>(image_->height);
  segment_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (segment_.shmid < 0) {
    XDestroyImage(image_);
    image_ = nullptr;
    return;
  }
  segment_.shmaddr = image_->data = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
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
  isShared_ = true;
}

X11ShmImage::~X11ShmImage() {
  if (image_ == nullptr) return;
  if (isShared_) {
    if (!connection_.isBroken()) {
      X11ErrorTrap trap(connection_);
      XShmDetach(display_, &segment_);
    }
    shmdt(segment_.shmaddr);
    image_->data = nullptr;
  }
  XDestroyImage(image_);
}

bool X11ShmImage::grab(::Drawable drawable, int x, int y) {
  if (connection_.isBroken()) return false;
  X11ErrorTrap trap(connection_);
  if (isShared_) return XShmGetImage(display_, drawable, image_, x, y, AllPlanes) != 0 && !trap.failed();
  XImage* answer = XGetImage(display_, drawable, x, y, static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                             AllPlanes, ZPixmap);
  if (answer == nullptr || trap.failed()) {
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

}  // namespace tolvane
