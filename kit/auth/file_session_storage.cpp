#include "kit/auth/file_session_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kit/base/file_descriptor.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"auth"};
  return logger;
}

}  // namespace

FileSessionStorage::FileSessionStorage(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path FileSessionStorage::defaultPath(const std::string& account) {
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    config = std::filesystem::path(home) / ".config";
  } else {
    config = std::filesystem::temp_directory_path();
  }
  return config / "tolvane" / (account + ".json");
}

std::optional<AuthSession> FileSessionStorage::load() {
  std::lock_guard lock(mutex_);
  std::ifstream in(file_, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream contents;
  contents << in.rdbuf();
  return AuthSession::fromStoredJSON(contents.str());
}

void FileSessionStorage::save(const std::optional<AuthSession>& session) {
  std::lock_guard lock(mutex_);
  if (!session) {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
    return;
  }
  if (!write(session->toStoredJSON())) log().error("session file {} could not be written", file_.string());
}

bool FileSessionStorage::write(const std::string& contents) {
  const auto directory = file_.parent_path();
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return false;
  ::chmod(directory.c_str(), 0700);

  // The temporary file is created 0600 before any secret goes into it.
  // Appended rather than prefixed: GCC 12 at -O3 warns (-Wrestrict) about `"." + string`.
  std::string temporaryName = ".";
  temporaryName.append(file_.filename().string()).append(".tmp");
  const auto temporary = directory / temporaryName;
  FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!file.isOpen()) return false;
  ::fchmod(file.get(), 0600);
  const bool ok = file.writeAll(contents) && ::fsync(file.get()) == 0;
  file.reset();
  if (!ok || ::rename(temporary.c_str(), file_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace tolvane
