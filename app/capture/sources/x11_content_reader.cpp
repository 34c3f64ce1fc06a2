#include "app/capture/sources/x11_content_reader.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <fstream>

#include "app/capture/sources/edid_monitor_name.h"
#include "app/capture/sources/x11_connection.h"

namespace tolvane {

namespace {

constexpr unsigned long allDesktops = 0xFFFFFFFFul;

std::string processName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

ShareableContent X11ContentReader::read() const { return ShareableContent{displays(), windows()}; }

std::vector<DisplayInfo> X11ContentReader::displays() const {
  ::Display* display = connection_.display();
  std::vector<DisplayInfo> result;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  bool hasMonitors = XRRQueryExtension(display, &eventBase, &errorBase) &&
                     XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
  if (hasMonitors) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, connection_.root(), True, &count);
    // The primary monitor comes first, as the main display does on other desktops.
    for (int i = 0; i < count; ++i) {
      const XRRMonitorInfo& m = monitors[i];
      DisplayInfo info;
      info.displayID = static_cast<std::uint32_t>(m.name);
      info.localizedName = m.noutput > 0 ? monitorName(m.outputs[0]) : std::string();
      info.x = m.x;
      info.y = m.y;
      info.width = m.width;
      info.height = m.height;
      if (m.primary) {
        result.insert(result.begin(), info);
      } else {
        result.push_back(info);
      }
    }
    if (monitors != nullptr) XRRFreeMonitors(monitors);
  }
  if (result.empty()) {
    // A server without RandR 1.5 still has its screen: one display covering the root.
    int screen = DefaultScreen(display);
    result.push_back(DisplayInfo{static_cast<std::uint32_t>(connection_.root()), {}, 0, 0,
                                 DisplayWidth(display, screen), DisplayHeight(display, screen)});
  }
  return result;
}

std::string X11ContentReader::monitorName(unsigned long output) const {
  ::Display* display = connection_.display();
  X11ErrorTrap trap(connection_);
  ::Atom edidAtom = XInternAtom(display, RR_PROPERTY_RANDR_EDID, True);
  if (edidAtom == None) return {};
  ::Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::vector<std::uint8_t> edid;
  if (XRRGetOutputProperty(display, output, edidAtom, 0, 256, False, False, AnyPropertyType, &type, &format, &count,
                           &remaining, &data) == Success &&
      data != nullptr && format == 8) {
    edid.assign(data, data + count);
  }
  if (data != nullptr) XFree(data);
  if (trap.failed()) return {};
  return edidMonitorName(edid);
}

std::vector<WindowInfo> X11ContentReader::windows() const {
  std::vector<WindowInfo> result;
  for (unsigned long id : connection_.longProperty(connection_.root(), connection_.atom("_NET_CLIENT_LIST"), XA_WINDOW)) {
    if (auto info = window(static_cast<std::uint32_t>(id))) result.push_back(std::move(*info));
  }
  return result;
}

std::optional<WindowInfo> X11ContentReader::window(std::uint32_t windowID) const {
  ::Display* display = connection_.display();
  ::Window window = windowID;
  XWindowAttributes attributes{};
  ::Window child = None;
  int rootX = 0;
  int rootY = 0;
  if (connection_.isBroken()) return std::nullopt;
  {
    X11ErrorTrap trap(connection_);
    if (XGetWindowAttributes(display, window, &attributes) == 0 || trap.failed()) return std::nullopt;
    XTranslateCoordinates(display, window, connection_.root(), 0, 0, &rootX, &rootY, &child);
    if (trap.failed()) return std::nullopt;
  }

  WindowInfo info;
  info.windowID = windowID;
  info.title = connection_.textProperty(window, connection_.atom("_NET_WM_NAME"));
  if (!info.title) info.title = connection_.textProperty(window, XA_WM_NAME);
  info.x = rootX;
  info.y = rootY;
  info.width = attributes.width;
  info.height = attributes.height;

  auto pids = connection_.longProperty(window, connection_.atom("_NET_WM_PID"), XA_CARDINAL);
  pid_t pid = pids.empty() ? 0 : static_cast<pid_t>(pids.front());
  std::string applicationName;
  {
    X11ErrorTrap trap(connection_);
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint) != 0) {
      // The class ("Firefox") names the application; the instance ("Navigator") does not.
      if (hint.res_class != nullptr) applicationName = hint.res_class;
      if (applicationName.empty() && hint.res_name != nullptr) applicationName = hint.res_name;
      if (hint.res_class != nullptr) XFree(hint.res_class);
      if (hint.res_name != nullptr) XFree(hint.res_name);
    }
  }
  if (applicationName.empty() && pid > 0) applicationName = processName(pid);
  if (!applicationName.empty() || pid > 0) info.owningApplication = OwningApplication{pid, applicationName};

  std::vector<unsigned long> states =
      connection_.longProperty(window, connection_.atom("_NET_WM_STATE"), XA_ATOM);
  bool isHidden = std::find(states.begin(), states.end(), connection_.atom("_NET_WM_STATE_HIDDEN")) != states.end();
  info.isOnScreen = attributes.map_state == IsViewable && !isHidden && isOnCurrentDesktop(window);
  return info;
}

bool X11ContentReader::isOnCurrentDesktop(unsigned long window) const {
  auto current = connection_.longProperty(connection_.root(), connection_.atom("_NET_CURRENT_DESKTOP"), XA_CARDINAL);
  auto desktop = connection_.longProperty(window, connection_.atom("_NET_WM_DESKTOP"), XA_CARDINAL);
  // Without a pager's answer the window counts as on the visible desktop.
  if (current.empty() || desktop.empty()) return true;
  return (desktop.front() & allDesktops) == allDesktops || desktop.front() == current.front();
}

}  // namespace tolvane
