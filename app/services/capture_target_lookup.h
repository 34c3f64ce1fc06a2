#pragma once

#include <optional>
#include <string>

#include "app/capture/sources/capture_target.h"

namespace tolvane {

// The target an id names: the test scene ("synthetic-screen"), a listed display or
// window, or, when it is no longer listed, a display or window the capture engine will
// report as gone. Without an id, the first display, as in the desktop application. None
// when there is nothing to record. Throws CaptureSourceError with the reason when the
// session's desktop cannot be recorded (Wayland), for any target but the test scene.
std::optional<CaptureTarget> findCaptureTarget(const std::optional<std::string>& id);

}  // namespace tolvane
