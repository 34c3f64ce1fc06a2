#pragma once

#include <filesystem>
#include <optional>

#include "kit/base/file_descriptor.h"

namespace tolvane {

// The advisory lock (flock) on a recording's ".recording.lock" file, held by whoever
// writes the recording's movie: the recording session from the item's creation until
// its finished manifest, a trim while it cuts the file. Processes that would act on the
// movie (recovery, an upload queue, a delete, another trim) test the lock first and
// leave a held item alone. The kernel drops the lock with its holder's last descriptor,
// so a recording whose process crashed is never locked and recovery still settles it.
//
// The lock is per open file, so it also keeps two parts of one process apart. The lock
// file itself stays in the folder; removing it while others may be opening it would let
// two holders lock different files.
class RecordingLock {
 public:
  static constexpr const char* fileName = ".recording.lock";

  RecordingLock() = default;  // holds nothing
  RecordingLock(RecordingLock&&) noexcept = default;
  RecordingLock& operator=(RecordingLock&&) noexcept = default;

  // Takes the lock of the recording in `directory` at once, or none when someone holds
  // it (or the lock file cannot be made, when the folder is gone or read-only).
  static std::optional<RecordingLock> tryAcquire(const std::filesystem::path& directory);

  // Whether someone holds the recording's lock now. A folder without a lock file has
  // never been locked.
  static bool isHeld(const std::filesystem::path& directory);

  bool holds() const { return file_.isOpen(); }
  void release() { file_.reset(); }

 private:
  explicit RecordingLock(FileDescriptor file) : file_(std::move(file)) {}
  FileDescriptor file_;
};

}  // namespace tolvane
