#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tolvane {

// Whether the running program came from our own Debian package, the one case where the
// updater may replace it: a build tree or another distribution's package is left alone
// and the user is only told that a new version exists.
struct InstalledPackage {
  static constexpr std::string_view kPackageName = "tolvane";
  static constexpr std::string_view kInstallerVariable = "TOLVANE_UPDATE_INSTALLER";

  bool installable = false;
  // Why not, in a few words for the log, when not installable.
  std::string reason;
  // The running program's file, resolved at detection (the relaunch starts it again).
  std::filesystem::path executable;

  // Asks dpkg which package owns the running program and which version of `tolvane` is
  // installed; installable when that package is `tolvane` at `runningVersion`. With
  // TOLVANE_UPDATE_INSTALLER set, the replacement installer takes that responsibility
  // and the program counts as installable. Blocking (runs dpkg-query).
  static InstalledPackage detect(std::string_view runningVersion);

  // The package named by a line of `dpkg-query -S FILE` ("tolvane:amd64: /usr/bin/tolvane"
  // names "tolvane"); empty when the line names none.
  static std::string owningPackage(std::string_view dpkgSearchOutput);
};

}  // namespace tolvane
