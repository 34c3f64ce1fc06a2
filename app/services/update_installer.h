#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kit/update/update_feed.h"

namespace tolvane {

// Installs a downloaded package over the running program. Installing a .deb needs
// privileges, so the default command asks through polkit, which shows the desktop's own
// password prompt.
class UpdateInstaller {
 public:
  // `pkexec apt-get install -y`, or the program named by TOLVANE_UPDATE_INSTALLER; the
  // package's absolute path is appended as the last argument.
  static std::vector<std::string> defaultCommand();

  explicit UpdateInstaller(std::shared_ptr<const UpdateFeedVerifier> verifier,
                           std::vector<std::string> command = defaultCommand());

  // Installs `package`, the download of `release`, over `runningVersion`: only a newer
  // version, and only a file that verifies against the release right now. Success is the
  // installer's exit status 0. Throws UpdateError with one sentence otherwise; the file is
  // left where it is either way (the caller discards it after a success).
  void install(const std::filesystem::path& package, const UpdateRelease& release,
               std::string_view runningVersion) const;

 private:
  std::shared_ptr<const UpdateFeedVerifier> verifier_;
  std::vector<std::string> command_;
};

}  // namespace tolvane
