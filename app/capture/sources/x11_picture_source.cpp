#include "app/capture/sources/x11_picture_source.h"

#include <algorithm>

#include "app/capture/sources/bgra_fit.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_cursor_painter.h"
#include "app/capture/sources/x11_shm_image.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

// Enough for every frame the engine and the writer may hold at once (their queues, the
// frame being encoded, the last screen frame kept for repeats) plus the one being read.
constexpr std::size_t kMaxPictures = 16;

// How long stop() lets the tick in progress finish before cutting the connection under
// it: many frame intervals for a busy server, well within the engine's stop bound.
constexpr std::chrono::milliseconds kStopGrace{500};

}  // namespace

X11PictureSource::X11PictureSource(const std::string& xDisplayName, ScreenCaptureSettings settings)
    : settings_(settings),
      connection_(std::make_unique<X11Connection>(xDisplayName)),
      cursor_(std::make_unique<X11CursorPainter>(*connection_)),
      pool_(std::max(2, settings.width), std::max(2, settings.height), 8) {
  int errorBase = 0;
  if (XDamageQueryExtension(connection_->display(), &damageEventBase_, &errorBase) == 0) damageEventBase_ = -1;
}

X11PictureSource::~X11PictureSource() {
  stop();
  if (connection_->isBroken()) return;
  X11ErrorTrap trap(*connection_);
  unwatchDamage();
  pictures_.clear();
}

void X11PictureSource::start(FrameHandler onFrame, FailureHandler onFailure) {
  onFrame_ = std::move(onFrame);
  onFailure_ = std::move(onFailure);
  loop_.start(settings_.frameRate, [this] { return tick(); });
}

void X11PictureSource::stop() {
  loop_.requestStop();
  // A tick waiting on a server that stopped answering would hold stop() forever.
  if (!loop_.waitUntilEnded(std::chrono::steady_clock::now() + kStopGrace)) {
    Logger("capture").error("the X server stopped answering; cutting the connection");
    connection_->interrupt();
  }
  loop_.stop();
}

void X11PictureSource::watchDamage(::Drawable drawable) {
  if (damageEventBase_ < 0) return;
  unwatchDamage();
  damage_ = XDamageCreate(connection_->display(), drawable, XDamageReportNonEmpty);
}

void X11PictureSource::unwatchDamage() {
  if (damage_ == 0 || connection_->isBroken()) return;
  XDamageDestroy(connection_->display(), damage_);
  damage_ = 0;
}

bool X11PictureSource::takeEvents(const std::function<void(const XEvent&)>& other) {
  ::Display* display = connection_->display();
  // Subclasses may watch more drawables than the one watchDamage() names; every damage
  // reported is subtracted, or it would never be reported again.
  std::vector<::Damage> damaged;
  while (!connection_->isBroken() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == damageEventBase_ + XDamageNotify) {
      const ::Damage damage = reinterpret_cast<const XDamageNotifyEvent&>(event).damage;
      if (std::find(damaged.begin(), damaged.end(), damage) == damaged.end()) damaged.push_back(damage);
    } else if (other) {
      other(event);
    }
  }
  // Subtracted before reading, so changes made while the picture is read raise a new
  // event and are caught by the next tick.
  if (!damaged.empty() && !connection_->isBroken()) {
    X11ErrorTrap trap(*connection_);  // a watched window may be gone by now, its damage with it
    for (::Damage damage : damaged) XDamageSubtract(display, damage, None, None);
  }
  return !damaged.empty() || damage_ == 0;
}

void X11PictureSource::setPictureFormat(::Visual* visual, int depth, int width, int height) {
  if (visual == visual_ && depth == depth_ && width == pictureWidth_ && height == pictureHeight_) return;
  // Frames already delivered keep their own buffers alive.
  pictures_.clear();
  visual_ = visual;
  depth_ = depth;
  pictureWidth_ = width;
  pictureHeight_ = height;
  pictures_.push_back(std::make_unique<X11ShmImage>(*connection_, visual_, depth_, width, height));
}

X11ShmImage* X11PictureSource::freePicture() {
  for (const auto& picture : pictures_) {
    if (!picture->isBusy()) return picture.get();
  }
  if (pictures_.empty() || pictures_.size() >= kMaxPictures) return nullptr;
  pictures_.push_back(std::make_unique<X11ShmImage>(*connection_, visual_, depth_, pictureWidth_, pictureHeight_));
  return pictures_.back().get();
}

bool X11PictureSource::canRead() { return pictures_.empty() || freePicture() != nullptr; }

bool X11PictureSource::deliverPicture(::Drawable drawable, int x, int y, int originX, int originY,
                                      double hostTime, const std::function<bool(X11ShmImage&)>& touchUp) {
  X11ShmImage* picture = freePicture();
  if (picture == nullptr || !picture->grab(drawable, x, y)) return false;
  if (touchUp && !touchUp(*picture)) return false;
  if (settings_.showsCursor) {
    cursor_->paint(picture->data(), picture->stride(), picture->width(), picture->height(), originX, originY);
  }
  VideoFrame frame;
  if (picture->canShareFrames() && picture->width() == settings_.width && picture->height() == settings_.height) {
    // The X server leaves the fourth byte of each pixel undefined; nothing downstream
    // reads it (the encoder drops alpha, and every overlay writes its own), so the
    // picture goes out as it is rather than paying a pass over it.
    frame = picture->frame();
  } else {
    frame = pool_.acquire();
    fitBGRA(picture->data(), picture->stride(), picture->width(), picture->height(), frame);
  }
  hasDelivered_ = true;
  onFrame_(ScreenFrame{std::move(frame), hostTime, FrameStatus::complete});
  return true;
}

void X11PictureSource::deliverIdle(double hostTime) { onFrame_(ScreenFrame{VideoFrame(), hostTime, FrameStatus::idle}); }

void X11PictureSource::fail(const std::string& message) { onFailure_(message); }

}  // namespace tolvane
