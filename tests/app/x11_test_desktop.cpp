#include "tests/app/x11_test_desktop.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on

#include <chrono>
#include <stdexcept>

namespace tolvane::testing {

namespace {
::Atom atom(::Display* display, const char* name) { return XInternAtom(display, name, False); }
}  // namespace

TestDesktop::TestDesktop(const std::string& displayName)
    : displayName_(displayName), display_(XOpenDisplay(displayName.c_str())) {
  if (display_ == nullptr) throw std::runtime_error("cannot open " + displayName);
  XSetIOErrorExitHandler(display_, [](::Display*, void*) {}, nullptr);
}

TestDesktop::~TestDesktop() {
  animating_ = false;
  if (animation_.joinable()) animation_.join();
  for (WindowID window : clients_) XDestroyWindow(display_, window);
  clients_.clear();
  publishClientList();
  XCloseDisplay(display_);
}

TestDesktop::WindowID TestDesktop::create(const WindowLook& look) {
  XSetWindowAttributes attributes{};
  attributes.background_pixel = look.color;
  const ::Window window = XCreateWindow(display_, DefaultRootWindow(display_), look.x, look.y,
                                        static_cast<unsigned>(look.width), static_cast<unsigned>(look.height), 0,
                                        CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &attributes);
  std::string instance = look.applicationClass;
  XClassHint hint{instance.data(), instance.data()};
  XSetClassHint(display_, window, &hint);
  if (look.netTitle) {
    XChangeProperty(display_, window, atom(display_, "_NET_WM_NAME"), atom(display_, "UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(look.netTitle->data()),
                    static_cast<int>(look.netTitle->size()));
  }
  if (look.wmName) XStoreName(display_, window, look.wmName->c_str());
  long pid = look.pid;
  XChangeProperty(display_, window, atom(display_, "_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  if (look.mapped) XMapWindow(display_, window);
  clients_.push_back(window);
  publishClientList();
  return window;
}

void TestDesktop::fill(WindowID window, unsigned long color) {
  XSetWindowBackground(display_, window, color);
  XClearWindow(display_, window);
  XSync(display_, False);
}

void TestDesktop::destroy(WindowID window) {
  XDestroyWindow(display_, window);
  std::erase(clients_, window);
  publishClientList();
}

void TestDesktop::animate(WindowID window) {
  animating_ = true;
  animation_ = std::thread([this, window] {
    ::Display* display = XOpenDisplay(displayName_.c_str());
    if (display == nullptr) return;
    XWindowAttributes size{};
    XGetWindowAttributes(display, window, &size);
    GC gc = XCreateGC(display, window, 0, nullptr);
    XSetForeground(display, gc, 0xF0F0F0);
    for (long frame = 0; animating_; ++frame) {
      XClearWindow(display, window);
      XFillRectangle(display, window, gc, static_cast<int>((frame * 16) % size.width), 0, 120,
                     static_cast<unsigned>(size.height));
      XSync(display, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
  });
}

void TestDesktop::publishClientList() {
  std::vector<long> ids(clients_.begin(), clients_.end());
  XChangeProperty(display_, DefaultRootWindow(display_), atom(display_, "_NET_CLIENT_LIST"), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(ids.data()), static_cast<int>(ids.size()));
  XSync(display_, False);
}

}  // namespace tolvane::testing
