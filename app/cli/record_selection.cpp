#include "app/cli/record_selection.h"

#include <fmt/format.h>

#include <charconv>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/cli/cli_args.h"
#include "kit/base/log.h"

namespace tolvane::cli {
namespace {

// Comma-separated fractions between 0 and 1, exactly `count` of them.
std::vector<double> parseFractions(const std::string& text, std::size_t count, const char* option, const char* form) {
  std::vector<double> values;
  const char* position = text.data();
  const char* end = text.data() + text.size();
  while (values.size() < count) {
    double value = 0;
    auto [next, error] = std::from_chars(position, end, value);
    const bool last = values.size() + 1 == count;
    const bool separatorOK = last ? next == end : (next < end && *next == ',');
    if (error != std::errc() || !separatorOK || value < 0 || value > 1) {
      throw UsageError(fmt::format("{} takes {}, fractions between 0 and 1, not '{}'", option, form, text));
    }
    values.push_back(value);
    position = next + 1;
  }
  return values;
}

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

std::optional<CaptureTarget> resolveTarget(const std::optional<std::string>& id) {
  if (id && (*id == SyntheticSources::screenID || *id == SyntheticSources::screenTarget().id())) {
    return SyntheticSources::screenTarget();
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

// "0.5,0.5,0.2": the bubble's centre and its diameter as a fraction of the shorter side.
BubbleLayout parseBubble(const std::string& text) {
  auto values = parseFractions(text, 3, "--bubble", "X,Y,SIZE");
  return BubbleLayout{{values[0], values[1]}, values[2]};
}

// "0.1,0.1,0.3,0.2": a region to blur, its top-left corner and size as fractions of the frame.
Rect parseBlur(const std::string& text) {
  auto values = parseFractions(text, 4, "--blur", "X,Y,WIDTH,HEIGHT");
  return Rect{values[0], values[1], values[2], values[3]};
}

}  // namespace tolvane::cli
