#pragma once

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/base/iso8601.h"
#include "kit/base/uuid.h"
#include "kit/vault/recording_manifest.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// The vault tests run with a private home (HOME and XDG_DATA_HOME, so the Trash lives
// inside it), the time zone Europe/Berlin and the locale en_US.UTF-8, all set before
// main() because GLib and ICU read them once per process.
inline const std::filesystem::path& testHome() {
  static const TempDir home;
  [[maybe_unused]] static const bool set = [] {
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / ".local/share").c_str(), 1);
    ::setenv("TZ", "Europe/Berlin", 1);
    return ::setenv("LC_ALL", "en_US.UTF-8", 1) == 0;
  }();
  return home.path();
}
// Set up before main() in every program that includes this header.
inline const bool kVaultTestEnvironment = !testHome().empty();

// The manifest of a finished three-second recording, with a fresh id unless one is given.
inline RecordingManifest readyManifest(const std::string& title = "Clip",
                                       const char* createdAt = "2026-03-05T14:07:09Z", const std::string& id = {}) {
  return RecordingManifest::make(id.empty() ? makeUUID() : id, title, *parseISO8601(createdAt), RecordingState::ready,
                                 "recording.mp4", 3, 100, false, true, false);
}

// The names in a directory, sorted.
inline std::vector<std::string> sortedNames(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tolvane::testing
