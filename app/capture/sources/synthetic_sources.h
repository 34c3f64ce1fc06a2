#pragma once

#include <cstdint>
#include <string_view>

#include "app/capture/sources/capture_target.h"

namespace tolvane::SyntheticSources {

// Sources that need no hardware, for tests, demos and machines without a desktop. They
// are chosen by these ids wherever a display, microphone or camera id is accepted.
inline constexpr std::string_view screenID = "synthetic-screen";  // a moving test scene
inline constexpr std::string_view toneID = "synthetic-tone";      // a 440 Hz sine microphone
inline constexpr std::string_view barsID = "synthetic-bars";      // a colour-bars camera

// The synthetic screen as a display target, 1920 × 1080 ("display-4294967040"); an id no
// X server hands out, because X atoms stay far below it.
inline constexpr std::uint32_t screenDisplayID = 0xFFFFFF00u;
inline constexpr int screenWidth = 1920;
inline constexpr int screenHeight = 1080;

// The synthetic sources exist only when TOLVANE_TEST_SOURCES=1 is set (tests, benchmarks,
// demos): a user's picker never offers a fake screen or microphone.
bool enabled();
// Throws CaptureSourceError (deviceUnavailable) saying how to switch them on, unless enabled().
void requireEnabled();

CaptureTarget screenTarget();
bool isSyntheticScreen(const CaptureTarget& target);

}  // namespace tolvane::SyntheticSources
