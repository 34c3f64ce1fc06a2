#include "tests/kit/vault/vault_test_environment.h"

#include <algorithm>
#include <cstdlib>

#include "kit/base/iso8601.h"
#include "kit/base/uuid.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {
namespace {

struct Environment {
  TempDir home;
  Environment() {
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / ".local/share").c_str(), 1);
    ::setenv("TZ", "Europe/Berlin", 1);
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
  }
};

Environment& environment() {
  static Environment instance;
  return instance;
}

// Set up before main(), ahead of any GLib or ICU call.
[[maybe_unused]] const bool kInstalled = (environment(), true);

}  // namespace

const std::filesystem::path& testHome() { return environment().home.path(); }

RecordingManifest readyManifest(const std::string& title, const char* createdAt, const std::string& id) {
  return RecordingManifest::make(id.empty() ? makeUUID() : id, title, *parseISO8601(createdAt), RecordingState::ready,
                                 "recording.mp4", 3, 100, false, true, false);
}

std::vector<std::string> sortedNames(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tolvane::testing
