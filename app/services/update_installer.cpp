#include "app/services/update_installer.h"

#include <cstdlib>

#include "app/services/child_command.h"
#include "app/services/installed_package.h"
#include "kit/base/log.h"
#include "kit/update/desktop_release.h"
#include "kit/update/update_error.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"updater"};
  return logger;
}

// The installer's last words, for the log: its output can run long.
std::string tail(const std::string& output) {
  constexpr std::size_t kKept = 600;
  return output.size() <= kKept ? output : "…" + output.substr(output.size() - kKept);
}

}  // namespace

std::vector<std::string> UpdateInstaller::defaultCommand() {
  if (const char* installer = std::getenv(InstalledPackage::kInstallerVariable.data());
      installer != nullptr && installer[0] != '\0') {
    return {installer};
  }
  return {"pkexec", "apt-get", "install", "-y"};
}

UpdateInstaller::UpdateInstaller(std::shared_ptr<const UpdateFeedVerifier> verifier, std::vector<std::string> command)
    : verifier_(std::move(verifier)), command_(std::move(command)) {}

void UpdateInstaller::install(const std::filesystem::path& package, const UpdateRelease& release,
                              std::string_view runningVersion) const {
  DesktopRelease candidate;
  candidate.version = release.version;
  if (!candidate.isNewer(runningVersion)) {
    throw UpdateError("Tolvane " + release.version + " is not newer than the running version " +
                      std::string(runningVersion) + ", so it was not installed.");
  }
  // Checked again right before it is handed to a privileged installer: the file sat in
  // the user's cache since the download.
  verifier_->verifyPackage(package, release);

  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(package, error);
  std::vector<std::string> argv = command_;
  argv.push_back((error ? package : absolute).string());
  log().info("installing {} with {}", release.version, argv.front());
  const ChildCommand::Result result = ChildCommand::run(argv);
  if (result.exitStatus == 0) {
    log().info("installed {}", release.version);
    return;
  }
  log().error("the installer of {} ended with status {}: {}", release.version, result.exitStatus, tail(result.output));
  if (result.exitStatus == 126 || result.exitStatus == 127) {
    // pkexec's answers when the user dismissed the prompt or wasn't authorised.
    throw UpdateError("Tolvane " + release.version + " was not installed: permission to install it was not given.");
  }
  throw UpdateError("Tolvane " + release.version + " could not be installed (the installer ended with status " +
                    std::to_string(result.exitStatus) + ").");
}

}  // namespace tolvane
