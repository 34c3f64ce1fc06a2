#include "app/services/capture_target_lookup.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/capture/sources/x11_connection.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

std::optional<std::uint32_t> numberAfter(const std::string& id, std::string_view prefix) {
  if (id.rfind(prefix, 0) != 0) return std::nullopt;
  std::uint32_t number = 0;
  const char* begin = id.data() + prefix.size();
  const char* end = id.data() + id.size();
  auto [next, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || next != end || begin == end) return std::nullopt;
  return number;
}

}  // namespace

std::optional<CaptureTarget> findCaptureTarget(const std::optional<std::string>& id) {
  if (id && (*id == SyntheticSources::screenID || *id == SyntheticSources::screenTarget().id())) {
    return SyntheticSources::screenTarget();
  }
  // Said before anything is created, rather than the vaguer "nothing to record".
  if (auto reason = unrecordableSessionReason()) {
    throw CaptureSourceError(CaptureSourceError::Kind::serverUnavailable, *reason);
  }
  SystemSourceCatalog catalog;
  CaptureSources::Content content;
  ShareableContent everything;
  try {
    content = CaptureSources::shareableContent(catalog);
    if (id) everything = catalog.shareableContent();
  } catch (const std::exception& error) {
    Logger("app").error("couldn't list capture sources: {}", error.what());
  }
  if (!id) {
    if (content.displays.empty()) return std::nullopt;
    return content.displays.front();
  }
  for (const auto* list : {&content.displays, &content.windows}) {
    for (const CaptureTarget& target : *list) {
      if (target.id() == *id) return target;
    }
  }
  if (auto windowID = numberAfter(*id, "window-")) {
    // Asked for by id although not offered in the picker (small, or off screen).
    for (const WindowInfo& window : everything.windows) {
      if (window.windowID != *windowID) continue;
      return CaptureTarget::window(window.windowID, window.title.value_or(""),
                                   window.owningApplication ? window.owningApplication->applicationName : "Window",
                                   window.width, window.height);
    }
    return CaptureTarget::window(*windowID, "", "Window", 0, 0);
  }
  if (auto displayID = numberAfter(*id, "display-")) return CaptureTarget::display(*displayID, "", 0, 0);
  return std::nullopt;
}

}  // namespace tolvane
