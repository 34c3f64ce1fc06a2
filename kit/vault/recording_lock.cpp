#include "kit/vault/recording_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace tolvane {
namespace {

// LOCK_NB: nobody waits for a recording to end; a held item is skipped or refused.
bool lockNow(int fd, int operation) {
  int rc = 0;
  do {
    rc = ::flock(fd, operation | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace

std::optional<RecordingLock> RecordingLock::tryAcquire(const std::filesystem::path& directory) {
  // O_CLOEXEC: a helper program the holder starts must not keep the lock after it.
  FileDescriptor file(::open((directory / fileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!file.isOpen() || !lockNow(file.get(), LOCK_EX)) return std::nullopt;
  return RecordingLock(std::move(file));
}

bool RecordingLock::isHeld(const std::filesystem::path& directory) {
  FileDescriptor file(::open((directory / fileName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.isOpen()) return false;
  // A shared probe: two processes probing at once do not see each other as holders.
  return !lockNow(file.get(), LOCK_SH);
}

}  // namespace tolvane
