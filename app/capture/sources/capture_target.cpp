#include "app/capture/sources/capture_target.h"

#include <functional>

namespace tolvane {

CaptureTarget CaptureTarget::display(std::uint32_t displayID, std::string name, int width, int height) {
  return CaptureTarget(Display{displayID, std::move(name), width, height});
}

CaptureTarget CaptureTarget::window(std::uint32_t windowID, std::string title, std::string applicationName,
                                    int width, int height) {
  return CaptureTarget(Window{windowID, std::move(title), std::move(applicationName), width, height});
}

std::string CaptureTarget::id() const {
  if (isDisplay()) return "display-" + std::to_string(asDisplay().displayID);
  return "window-" + std::to_string(asWindow().windowID);
}

std::string CaptureTarget::label() const {
  if (isDisplay()) return asDisplay().name;
  const Window& window = asWindow();
  if (window.title.empty()) return window.applicationName;
  return window.applicationName + " \u2014 " + window.title;
}

int CaptureTarget::width() const { return isDisplay() ? asDisplay().width : asWindow().width; }
int CaptureTarget::height() const { return isDisplay() ? asDisplay().height : asWindow().height; }

}  // namespace tolvane
