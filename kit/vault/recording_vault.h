#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "kit/base/iso8601.h"
#include "kit/base/log.h"
#include "kit/vault/recording_lock.h"
#include "kit/vault/recording_manifest.h"
#include "kit/vault/vault_item.h"

namespace tolvane {

// The on-disk store of recordings. Each recording is a directory under `root()` named
// "yyyy-MM-dd HH-mm-ss XXXXXXXX" (local creation time and the first 8 characters of its
// id) holding the movie ("recording.mp4" when created), "manifest.json" and
// "manifest.backup.json" (the manifest as it was before the latest write).
//
// The file system is the only truth: every query rescans the root and reads every
// manifest, so changes made by another process or by hand are always seen. Reading
// repairs what it can: a damaged manifest is replaced by its backup, and a directory
// holding a movie but no readable manifest gets a rebuilt one (state `ready`). Hidden
// entries and anything that is not a directory (symlinks included) are ignored. Hidden
// staging files that a crash left in a recording's folder (a half-written trim or
// finish, a temporary manifest) are removed by a scan once they are a minute old.
//
// Thread-safe: one non-recursive lock serialises all(), item(), update(), deleteItem(),
// the scan of totalSizeOnDisk() and withLockedScan(). createRecording() and
// availableCapacityBytes() take no lock. The change callback is never called with the
// lock held.
//
// Typical use:
//   RecordingVault vault(Config::vaultDirectory());
//   vault.setOnChange([&] { postToMainThread(refresh); });
//   VaultItem item = vault.createRecording(RecordingVault::defaultTitle(now), false, true, false);
//   vault.update(item.id(), [&](RecordingManifest& m) { m.state = RecordingState::ready; m.durationSec = 12.5; });
//
// Errors: createRecording() and deleteItem() throw VaultError (vault_error.h) whose
// what() is the sentence for the user; queries never throw and report an unusable root
// as an empty vault.
class RecordingVault {
 public:
  // Creates `root` with its parents when missing; a failure is logged once and the vault
  // then behaves as an empty one.
  explicit RecordingVault(std::filesystem::path root);
  RecordingVault(const RecordingVault&) = delete;
  RecordingVault& operator=(const RecordingVault&) = delete;

  const std::filesystem::path& root() const { return root_; }

  // Called after every change made through this vault (create, update, delete), on the
  // thread that made it, outside the lock. The receiver hops to its own thread. Set it
  // once, before sharing the vault.
  void setOnChange(std::function<void()> callback);

  // A new recording in state `recording`: its directory and manifest (file name
  // "recording.mp4", duration 0, size 0) are written before this returns. Dates are
  // whole seconds, as the manifest stores them. Throws VaultError when the directory or
  // the manifest cannot be written (a directory made before the failure stays).
  // With `lock`, the recording's lock is taken into it before the manifest is written,
  // so that no other process ever sees the new recording unlocked.
  VaultItem createRecording(const std::string& title, bool hasCamera, bool hasMicrophone, bool hasSystemAudio,
                            RecordingLock* lock = nullptr);

  // Every recording, newest `createdAt` first (equal times keep listing order).
  std::vector<VaultItem> all();

  // The recording with this manifest id, or none.
  std::optional<VaultItem> item(std::string_view id);

  // Applies `mutate` to the manifest of the recording with this id, stamps `updatedAt`
  // (now, whole seconds) and, when the movie file has a size above 0, `fileSizeBytes`,
  // then writes it. Returns the updated item, or none (and no callback) for an unknown
  // id. Never throws: a failed write is dropped, and the returned item still carries
  // the change; callers that need certainty read the item again.
  // `mutate` runs with the lock held and must not call the vault (it would deadlock);
  // an exception it throws propagates, and nothing is written.
  std::optional<VaultItem> update(std::string_view id, const std::function<void(RecordingManifest&)>& mutate);

  // The vault's "delete" (a reserved word in C++).
  // Moves the recording's directory to the freedesktop.org Trash. An unknown id is no
  // error. Throws VaultError when the recording is locked (being recorded or trimmed)
  // or the move fails; the directory then stays. The change callback is called in
  // every case, after the lock is released.
  void deleteItem(std::string_view id);

  // Bytes available to an unprivileged user on the root's volume; 0 when unknown.
  std::int64_t availableCapacityBytes() const;

  // Sum of the movie sizes of all recordings (a file that cannot be read counts 0).
  std::int64_t totalSizeOnDisk();

  // Runs `fn(items)` with the vault's lock held, on a fresh scan (the list all() gives),
  // and returns what it returns. For callers that must choose among the recordings
  // without another caller changing the vault in between, such as the upload queue
  // picking its next item. `fn` must not call the vault: the lock is not recursive.
  template <typename Fn>
  decltype(auto) withLockedScan(Fn&& fn) {
    std::lock_guard lock(mutex_);
    std::vector<VaultItem> items = scanLocked();
    return std::forward<Fn>(fn)(items);
  }

  // "Recording — " and the date as "MMM d, h:mm a" in the user's locale (LC_ALL,
  // LC_TIME or LANG) and time zone, e.g. "Recording — Mar 5, 2:07 PM".
  static std::string defaultTitle(Date date);

  // The directory name for a new recording: createdAt as "yyyy-MM-dd HH-mm-ss" in the
  // local time zone, a space, and the first 8 characters of the id.
  static std::string folderName(const RecordingManifest& manifest);

 private:
  std::vector<VaultItem> scanLocked();
  std::optional<VaultItem> loadItem(int rootFd, const char* name);
  void removeStaleStagingFiles(int rootFd, const char* name);
  std::optional<VaultItem> reconstruct(const std::filesystem::path& directory);
  // Writes "manifest.json" atomically, first keeping a readable current one as
  // "manifest.backup.json". Throws VaultError.
  void writeManifest(const RecordingManifest& manifest, const std::filesystem::path& directory);
  void notifyChange();

  const std::filesystem::path root_;
  std::mutex mutex_;
  // When scans last looked for stale staging files (guarded by mutex_). Leftovers are
  // rare, so scans look at most once a minute rather than opening every folder each time.
  std::optional<std::chrono::steady_clock::time_point> lastSweep_;
  Logger log_{"vault"};
  std::mutex callbackMutex_;
  std::function<void()> onChange_;
};

}  // namespace tolvane
