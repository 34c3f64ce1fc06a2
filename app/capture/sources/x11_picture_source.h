#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/capture/sources/paced_loop.h"
#include "app/capture/sources/screen_source.h"
#include "kit/media/frame_pool.h"

namespace tolvane {

class X11Connection;
class X11CursorPainter;
class X11ShmImage;

// What the screen and window sources share: a connection of their own, a paced loop,
// XDamage to tell a changed picture from an unchanged one, the pointer, and turning a
// picture read from the server into a frame.
//
// A picture that already has the output size leaves as a frame over the shared memory
// the server wrote it into, with no copy on this side; the source keeps a few such
// buffers and reads into one the pipeline has let go of. A picture of another size is
// scaled into a pooled frame instead.
class X11PictureSource : public ScreenSource {
 public:
  ~X11PictureSource() override;

  void start(FrameHandler onFrame, FailureHandler onFailure) override;
  // Waits a moment for the frame being read; when the server does not answer (stopped
  // or hung), cuts the connection so that the read returns, and the source then ends as
  // if the server had gone away.
  void stop() override;
  const ScreenCaptureSettings& settings() const override { return settings_; }

 protected:
  // Throws CaptureSourceError when the X server cannot be opened.
  X11PictureSource(const std::string& xDisplayName, ScreenCaptureSettings settings);

  // One frame interval, on the loop's thread; false ends the loop. Subclasses call
  // stop() first thing in their destructors, so no tick runs into a half-destroyed
  // object.
  virtual bool tick() = 0;

  X11Connection& connection() const { return *connection_; }
  X11CursorPainter& cursor() const { return *cursor_; }
  bool hasDelivered() const { return hasDelivered_; }

  // Starts reporting changes to `drawable` (nothing happens without XDamage: every
  // tick then counts as a change).
  void watchDamage(::Drawable drawable);
  void unwatchDamage();
  // Reads every pending event, passing those that are not damage reports to `other`,
  // and tells whether a watched drawable changed (this one or any other the subclass
  // created damage for on this connection).
  bool takeEvents(const std::function<void(const XEvent&)>& other = {});

  // The size and format of the pictures read from now on. Throws CaptureSourceError for
  // a picture format Tolvane cannot read.
  void setPictureFormat(::Visual* visual, int depth, int width, int height);
  // False while every picture buffer is still held by the pipeline; the tick should then
  // leave its events for the next one.
  bool canRead();
  // Reads the picture at (x, y) of `drawable`, has `touchUp` change it (when given; false
  // drops it), draws the pointer into it (the picture's top-left pixel is at (originX,
  // originY) of the root window) and delivers it. False when the server refused the read.
  bool deliverPicture(::Drawable drawable, int x, int y, int originX, int originY, double hostTime,
                      const std::function<bool(X11ShmImage&)>& touchUp = {});
  void deliverIdle(double hostTime);
  void fail(const std::string& message);

 private:
  X11ShmImage* freePicture();

  ScreenCaptureSettings settings_;
  std::unique_ptr<X11Connection> connection_;
  std::unique_ptr<X11CursorPainter> cursor_;
  ::Visual* visual_ = nullptr;
  int depth_ = 0;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  std::vector<std::unique_ptr<X11ShmImage>> pictures_;
  FramePool pool_;  // for pictures that are scaled to the output size
  ::Damage damage_ = 0;
  int damageEventBase_ = 0;
  bool hasDelivered_ = false;
  FrameHandler onFrame_;
  FailureHandler onFailure_;
  PacedLoop loop_;  // last: stops before the state it uses goes away
};

}  // namespace tolvane
