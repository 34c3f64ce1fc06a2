#pragma once

#include <filesystem>

namespace tolvane::testing {

// The vault tests run with a private home (HOME and XDG_DATA_HOME, so the Trash lives
// inside it), the time zone Europe/Berlin and the locale en_US.UTF-8, all set before
// main() because GLib and ICU read them once per process.
const std::filesystem::path& testHome();
std::filesystem::path testTrashFiles();

}  // namespace tolvane::testing
