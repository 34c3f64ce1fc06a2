// x11-stand-in-panels: puts windows on $DISPLAY that look to a display recording like
// Tolvane's floating panels while recording: the control pill (opaque, repainted every
// second as its clock ticks), the camera bubble's preview (translucent) and the
// full-screen drawing canvas with a few highlighter strokes, each marked for display
// recordings to leave out; the canvas, like the real one, says where it has painted. For
// measuring what leaving them out costs; runs until killed.
//
//   x11-stand-in-panels
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t running = 1;

void stopRunning(int) { running = 0; }

struct Mark {
  int x, y, width, height;
  unsigned long pixel;  // premultiplied 0xAARRGGBB on a translucent window
};

Window makePanel(Display* display, Visual* argb, Colormap argbColormap, int x, int y, int width, int height,
                 bool translucent, const std::vector<Mark>& marks) {
  const int screen = DefaultScreen(display);
  const Window root = DefaultRootWindow(display);
  const int depth = translucent ? 32 : DefaultDepth(display, screen);
  Pixmap picture = XCreatePixmap(display, root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                 static_cast<unsigned>(depth));
  GC gc = XCreateGC(display, picture, 0, nullptr);
  for (const Mark& mark : marks) {
    XSetForeground(display, gc, mark.pixel);
    XFillRectangle(display, picture, gc, mark.x, mark.y, static_cast<unsigned>(mark.width),
                   static_cast<unsigned>(mark.height));
  }
  XFreeGC(display, gc);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.border_pixel = 0;
  attributes.colormap = translucent ? argbColormap : DefaultColormap(display, screen);
  attributes.background_pixmap = picture;
  Window window = XCreateWindow(display, root, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                depth, InputOutput, translucent ? argb : CopyFromParent,
                                CWOverrideRedirect | CWBorderPixel | CWColormap | CWBackPixmap, &attributes);
  XFreePixmap(display, picture);
  const unsigned long excluded = 1;
  XChangeProperty(display, window, XInternAtom(display, "_TOLVANE_CAPTURE_EXCLUDED", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&excluded), 1);
  XMapRaised(display, window);
  return window;
}

}  // namespace

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x11-stand-in-panels: no X display\n");
    return 1;
  }
  std::signal(SIGTERM, stopRunning);
  std::signal(SIGINT, stopRunning);
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);
  const int height = DisplayHeight(display, screen);
  XVisualInfo info{};
  if (XMatchVisualInfo(display, screen, 32, TrueColor, &info) == 0) {
    std::fprintf(stderr, "x11-stand-in-panels: the display has no 32-bit visual\n");
    return 1;
  }
  Colormap argbColormap = XCreateColormap(display, DefaultRootWindow(display), info.visual, AllocNone);

  // Highlighter strokes at alpha 0.38, as thick bands across the page.
  const std::vector<Mark> strokes{{width / 5, height / 4, width / 3, 24, 0x61616100},
                                  {width / 2, height / 2, width / 4, 24, 0x61006161},
                                  {width / 3, height * 2 / 3, 18, height / 5, 0x61610000}};
  const Window canvas = makePanel(display, info.visual, argbColormap, 0, 0, width, height, true, strokes);
  // Where the strokes are, with the margin the canvas leaves for antialiasing.
  std::vector<unsigned long> areas;
  for (const Mark& stroke : strokes) {
    for (int value : {stroke.x - 2, stroke.y - 2, stroke.width + 4, stroke.height + 4}) {
      areas.push_back(static_cast<unsigned long>(value));
    }
  }
  XChangeProperty(display, canvas, XInternAtom(display, "_TOLVANE_CAPTURE_EXCLUDED_AREAS", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(areas.data()),
                  static_cast<int>(areas.size()));
  makePanel(display, info.visual, argbColormap, width - 300, height - 320, 240, 240, true,
            {{0, 0, 240, 240, 0xF0E0E0E0}, {20, 20, 200, 200, 0xF0306090}});
  const Window pill =
      makePanel(display, info.visual, argbColormap, width / 2 - 160, height - 100, 320, 56, false,
                {{0, 0, 320, 56, 0x1C1C1E}});
  GC gc = XCreateGC(display, pill, 0, nullptr);
  XFlush(display);
  for (int second = 0; running; ++second) {
    // The clock's digits change once a second.
    XSetForeground(display, gc, 0x1C1C1E);
    XFillRectangle(display, pill, gc, 40, 16, 120, 24);
    XSetForeground(display, gc, 0xF0F0F0);
    for (int digit = 0; digit < 4; ++digit) {
      XFillRectangle(display, pill, gc, 40 + digit * 30, 16, static_cast<unsigned>(4 + (second + digit) % 10 * 2), 24);
    }
    XFlush(display);
    for (int tick = 0; tick < 10 && running; ++tick) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  XFreeGC(display, gc);
  XCloseDisplay(display);
  return 0;
}
