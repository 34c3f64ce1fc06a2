#pragma once

#include <string_view>

namespace tolvane {

// The application's one identity: the subsystem of every log line, the keyring items'
// service, the D-Bus name, the desktop file and the AppStream id all use it.
inline constexpr std::string_view kApplicationID = "com.tolvanelabs.Tolvane";

}  // namespace tolvane
