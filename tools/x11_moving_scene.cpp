// x11-moving-scene: fills an X display with a picture that keeps moving, for demos and
// capture measurements on a display nobody looks at (Xvfb). A colour-graded page with
// blocks of "text" scrolls sideways, a square bounces over it and a bar grows along the
// bottom, so every frame differs the way a busy screen does.
//
//   x11-moving-scene [--fps N]     draws on $DISPLAY until killed
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t running = 1;

void stopRunning(int) { running = 0; }

// The page: twice the screen's width so that scrolling wraps without a seam.
XImage* makePage(Display* display, int screen, int width, int height) {
  const int pageWidth = width * 2;
  auto* pixels = static_cast<std::uint32_t*>(std::malloc(static_cast<std::size_t>(pageWidth) * height * 4));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < pageWidth; ++x) {
      const int u = x % width;
      std::uint32_t red = 40 + 150 * u / width;
      std::uint32_t green = 60 + 120 * y / height;
      std::uint32_t blue = 160 - 100 * u / width;
      // Lines of word-like blocks, as on a page of text.
      const bool inLine = (y / 18) % 3 != 2 && y % 18 < 12;
      const bool inWord = ((x / 7) * 2654435761u >> 13) % 5 != 0 && (x / 7 + y / 18) % 11 != 0;
      if (inLine && inWord && (x % 7) < 6) red = green = blue = 235;
      pixels[static_cast<std::size_t>(y) * pageWidth + x] = (red << 16) | (green << 8) | blue;
    }
  }
  return XCreateImage(display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
                      ZPixmap, 0, reinterpret_cast<char*>(pixels), static_cast<unsigned>(pageWidth),
                      static_cast<unsigned>(height), 32, 0);
}

}  // namespace

int main(int argc, char** argv) {
  int fps = 30;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--fps") == 0 && i + 1 < argc) {
      fps = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: x11-moving-scene [--fps N]\n");
      return 2;
    }
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x11-moving-scene: cannot open the display\n");
    return 1;
  }
  std::signal(SIGTERM, stopRunning);
  std::signal(SIGINT, stopRunning);

  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);
  const int height = DisplayHeight(display, screen);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, screen);
  Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel, &attributes);
  char name[] = "x11-moving-scene";
  XStoreName(display, window, name);
  XMapRaised(display, window);

  XImage* page = makePage(display, screen, width, height);
  Pixmap pixmap = XCreatePixmap(display, window, static_cast<unsigned>(width * 2), static_cast<unsigned>(height),
                                static_cast<unsigned>(DefaultDepth(display, screen)));
  // Without this every XCopyArea queues a NoExpose event that nobody reads.
  XGCValues values{};
  values.graphics_exposures = False;
  GC gc = XCreateGC(display, window, GCGraphicsExposures, &values);
  XPutImage(display, pixmap, gc, page, 0, 0, 0, 0, static_cast<unsigned>(width * 2), static_cast<unsigned>(height));
  XDestroyImage(page);

  const auto interval = std::chrono::nanoseconds(1'000'000'000 / fps);
  auto next = std::chrono::steady_clock::now();
  const int square = std::max(8, height / 6);
  for (long frame = 0; running; ++frame) {
    const int scroll = static_cast<int>((frame * 6) % width);
    XCopyArea(display, pixmap, window, gc, scroll, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0);
    const long travelX = std::max(1, width - square);
    const long travelY = std::max(1, height - square);
    const long px = (frame * 9) % (2 * travelX);
    const long py = (frame * 5) % (2 * travelY);
    XSetForeground(display, gc, 0xE04020);
    XFillRectangle(display, window, gc, static_cast<int>(px < travelX ? px : 2 * travelX - px),
                   static_cast<int>(py < travelY ? py : 2 * travelY - py), static_cast<unsigned>(square),
                   static_cast<unsigned>(square));
    XSetForeground(display, gc, 0x20C060);
    XFillRectangle(display, window, gc, 0, height - 12, static_cast<unsigned>((frame * 4) % width + 1), 12);
    XSync(display, False);
    next += interval;
    std::this_thread::sleep_until(next);
  }
  XFreeGC(display, gc);
  XFreePixmap(display, pixmap);
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
