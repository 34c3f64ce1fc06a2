#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kit/vault/recording_manifest.h"

namespace tolvane::testing {

// The vault tests run with a private home (HOME and XDG_DATA_HOME, so the Trash lives
// inside it), the time zone Europe/Berlin and the locale en_US.UTF-8, all set before
// main() because GLib and ICU read them once per process.
const std::filesystem::path& testHome();

// The manifest of a finished three-second recording, with a fresh id unless one is given.
RecordingManifest readyManifest(const std::string& title = "Clip", const char* createdAt = "2026-03-05T14:07:09Z",
                                const std::string& id = {});
// The names in a directory, sorted.
std::vector<std::string> sortedNames(const std::filesystem::path& directory);

}  // namespace tolvane::testing
