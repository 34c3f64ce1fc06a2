#pragma once

#include <string>

#include "app/capture/bubble_layout.h"
#include "kit/base/geometry.h"

namespace tolvane::cli {

// What `record` is asked to capture, read from its options.

// "X,Y,SIZE": the bubble's centre and its diameter as a fraction of the shorter side.
// Throws UsageError.
BubbleLayout parseBubble(const std::string& text);

// "X,Y,WIDTH,HEIGHT": a region to blur, as fractions of the frame. Throws UsageError.
Rect parseBlur(const std::string& text);

}  // namespace tolvane::cli
