#include "tests/kit/vault/vault_test_environment.h"

#include <cstdlib>

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
std::filesystem::path testTrashFiles() { return testHome() / ".local/share/Trash/files"; }

}  // namespace tolvane::testing
