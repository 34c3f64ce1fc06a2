#include "app/capture/sources/capture_sources.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "app/capture/sources/system_source_catalog.h"

namespace tolvane::CaptureSources {

namespace {

// Palettes and narrow tool strips are not worth recording on their own.
constexpr int minimumWindowEdge = 120;

bool isRecordable(const WindowInfo& window, pid_t ownProcessID) {
  return window.owningApplication && window.owningApplication->processID != ownProcessID &&
         window.width > minimumWindowEdge && window.height > minimumWindowEdge && window.isOnScreen;
}

}  // namespace

Content shareableContent(SourceCatalog& catalog, pid_t ownProcessID) {
  ShareableContent content = catalog.shareableContent();
  Content result;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < content.displays.size(); ++i) {
    names.push_back(displayName(content.displays, content.displays[i].displayID, i));
  }
  names = distinctNames(std::move(names));
  for (std::size_t i = 0; i < content.displays.size(); ++i) {
    const DisplayInfo& display = content.displays[i];
    result.displays.push_back(CaptureTarget::display(display.displayID, names[i], display.width, display.height));
  }

  std::vector<WindowInfo> kept;
  std::copy_if(content.windows.begin(), content.windows.end(), std::back_inserter(kept),
               [&](const WindowInfo& w) { return isRecordable(w, ownProcessID); });
  std::stable_sort(kept.begin(), kept.end(), [](const WindowInfo& a, const WindowInfo& b) {
    return a.owningApplication->applicationName < b.owningApplication->applicationName;
  });
  for (const WindowInfo& window : kept) {
    result.windows.push_back(CaptureTarget::window(
        window.windowID, window.title.value_or(""),
        window.owningApplication ? window.owningApplication->applicationName : "Window",
        static_cast<int>(std::trunc(window.width)), static_cast<int>(std::trunc(window.height))));
  }
  return result;
}

Content shareableContent(SourceCatalog& catalog) { return shareableContent(catalog, ::getpid()); }

Content shareableContent() {
  SystemSourceCatalog catalog;
  return shareableContent(catalog);
}

std::vector<AudioDeviceOption> microphones(SourceCatalog& catalog) { return catalog.microphones(); }

std::vector<AudioDeviceOption> microphones() {
  SystemSourceCatalog catalog;
  return catalog.microphones();
}

std::vector<CameraOption> cameras(SourceCatalog& catalog) { return catalog.cameras(); }

std::vector<CameraOption> cameras() {
  SystemSourceCatalog catalog;
  return catalog.cameras();
}

std::string displayName(const std::vector<DisplayInfo>& screens, std::uint32_t displayID, std::size_t index) {
  auto screen = std::find_if(screens.begin(), screens.end(),
                             [&](const DisplayInfo& s) { return s.displayID == displayID; });
  if (screen != screens.end() && !screen->localizedName.empty()) return screen->localizedName;
  if (index == 0) return "Main display";
  return "Display " + std::to_string(index + 1);
}

std::vector<std::string> distinctNames(std::vector<std::string> names) {
  std::map<std::string, int> total;
  for (const auto& name : names) ++total[name];
  std::map<std::string, int> seen;
  for (auto& name : names) {
    if (total[name] < 2) continue;
    const int place = ++seen[name];
    name += " (" + std::to_string(place) + ")";
  }
  return names;
}

}  // namespace tolvane::CaptureSources
