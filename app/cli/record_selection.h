#pragma once

#include <optional>
#include <string>

#include "app/capture/bubble_layout.h"
#include "app/capture/sources/capture_target.h"
#include "kit/base/geometry.h"

namespace tolvane::cli {

// What `record` is asked to capture, read from its options.

// The target an id names: the test scene ("synthetic-screen"), a listed display or
// window, or, when it is no longer listed, a display or window the capture engine will
// report as gone. Without an id, the first display, as in the desktop application. None
// when there is nothing to record.
std::optional<CaptureTarget> resolveTarget(const std::optional<std::string>& id);

// "X,Y,SIZE": the bubble's centre and its diameter as a fraction of the shorter side.
// Throws UsageError.
BubbleLayout parseBubble(const std::string& text);

// "X,Y,WIDTH,HEIGHT": a region to blur, as fractions of the frame. Throws UsageError.
Rect parseBlur(const std::string& text);

}  // namespace tolvane::cli
