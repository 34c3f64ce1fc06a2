#include "kit/vault/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <system_error>

#include <fmt/format.h>

#include "kit/base/file_descriptor.h"

namespace tolvane {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

std::filesystem::path temporarySibling(const std::filesystem::path& path) {
  // Unique per process and call, hidden so that scans and file browsers pass it by.
  static std::atomic<unsigned> counter{0};
  return path.parent_path() /
         fmt::format(".{}.{}-{}.tmp", path.filename().string(), ::getpid(), counter.fetch_add(1));
}

// A writer killed mid-write leaves its temporary file behind. One that has not been
// touched for a minute belongs to no live write (each takes milliseconds) and goes.
void removeStaleTemporaries(const std::filesystem::path& directory, const std::string& fileName) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return;
  const std::string prefix = "." + fileName + ".";
  const auto staleBefore = std::chrono::system_clock::now() - std::chrono::minutes(1);
  while (const struct dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (std::chrono::system_clock::from_time_t(info.st_mtime) < staleBefore) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  const auto directory = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // A name may be taken by a leftover of an earlier process that had the same id.
  std::filesystem::path temporary;
  FileDescriptor file;
  for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
    temporary = temporarySibling(path);
    file.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file.isOpen() && errno != EEXIST) break;
  }
  if (!file.isOpen()) fail(fmt::format("cannot create {}", temporary.string()));
  try {
    if (!file.writeAll(contents)) fail("write");
    if (::fsync(file.get()) != 0) fail("fsync");
    if (::close(file.release()) != 0) fail("close");
    if (::rename(temporary.c_str(), path.c_str()) != 0) fail(fmt::format("cannot rename into {}", path.string()));
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  // The rename is only durable once the directory is flushed; the new content is in
  // place either way, so a failure here is not reported.
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.isOpen()) ::fsync(dir.get());
  removeStaleTemporaries(directory, path.filename().string());
}

std::optional<std::string> readRegularFile(int directoryFd, const char* path, std::size_t maxBytes) {
  // O_NONBLOCK: a FIFO in place of the file must not hang the caller.
  FileDescriptor file(::openat(directoryFd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file.isOpen()) return std::nullopt;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (static_cast<std::uint64_t>(info.st_size) > maxBytes) return std::nullopt;

  // One read normally returns everything; the loop covers short reads and, for files
  // whose size fstat does not know (some virtual files report 0), reading to the end.
  const auto expected = static_cast<std::size_t>(info.st_size);
  std::string contents(expected + 1, '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == contents.size()) {
      if (contents.size() > maxBytes) return std::nullopt;
      contents.resize(contents.size() * 2);
    }
    const ssize_t got = ::read(file.get(), contents.data() + filled, contents.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
    // The size fstat gave has arrived: no second call just to see the end of the file.
    if (filled == expected && expected > 0) break;
  }
  if (filled > maxBytes) return std::nullopt;
  contents.resize(filled);
  return contents;
}

}  // namespace tolvane
