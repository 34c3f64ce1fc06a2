#include "app/services/installed_package.h"

#include <cstdlib>
#include <system_error>

#include "app/services/child_command.h"

namespace tolvane {
namespace {

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string InstalledPackage::owningPackage(std::string_view dpkgSearchOutput) {
  const std::string_view firstLine = dpkgSearchOutput.substr(0, dpkgSearchOutput.find('\n'));
  // "package[:arch][, other]: path"; a diversion line starts with "diversion by".
  const auto separator = firstLine.find(": ");
  if (separator == std::string_view::npos || firstLine.starts_with("diversion ")) return {};
  std::string_view package = firstLine.substr(0, separator);
  if (package.find(',') != std::string_view::npos) return {};  // shared by several packages
  package = package.substr(0, package.find(':'));
  return trimmed(package);
}

InstalledPackage InstalledPackage::detect(std::string_view runningVersion) {
  InstalledPackage found;
  std::error_code error;
  found.executable = std::filesystem::canonical("/proc/self/exe", error);
  if (error) found.executable = std::filesystem::read_symlink("/proc/self/exe", error);

  if (const char* installer = std::getenv(kInstallerVariable.data()); installer != nullptr && installer[0] != '\0') {
    found.installable = true;
    return found;
  }
  if (found.executable.empty()) {
    found.reason = "the program's own file can't be found";
    return found;
  }
  const auto owner = ChildCommand::run({"dpkg-query", "-S", found.executable.string()});
  const std::string package = owner.exitStatus == 0 ? owningPackage(owner.output) : std::string();
  if (package != kPackageName) {
    found.reason = found.executable.string() + " is not from the " + std::string(kPackageName) + " package";
    return found;
  }
  const auto version = ChildCommand::run({"dpkg-query", "-W", "-f", "${Version}", std::string(kPackageName)});
  const std::string installed = trimmed(version.output);
  if (version.exitStatus != 0 || installed != runningVersion) {
    found.reason = "the installed package (" + installed + ") is not the running version (" +
                   std::string(runningVersion) + ")";
    return found;
  }
  found.installable = true;
  return found;
}

}  // namespace tolvane
