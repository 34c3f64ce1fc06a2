#include "kit/vault/recording_vault.h"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <system_error>

#include <fmt/format.h>

#include "kit/base/uuid.h"
#include "kit/vault/atomic_file.h"
#include "kit/vault/local_date_format.h"
#include "kit/vault/manifest_json.h"
#include "kit/vault/vault_error.h"

namespace tolvane {
namespace {

constexpr const char* kManifestName = "manifest.json";
constexpr const char* kBackupName = "manifest.backup.json";
constexpr const char* kMovieName = "recording.mp4";
// A real manifest is under a kilobyte; anything far larger is damage, not data, and is
// not worth reading into memory on every scan.
constexpr std::size_t kMaxManifestBytes = 4 * 1024 * 1024;
// A staging file is written to continuously while its trim, finish or manifest write
// runs; one untouched for this long belongs to a process that died.
constexpr auto kStagingStaleAfter = std::chrono::minutes(1);

// Manifests store whole seconds; stamping whole seconds keeps an item equal to what a
// later scan reads back.
Date nowInWholeSeconds() {
  return std::chrono::time_point_cast<Date::duration>(std::chrono::floor<std::chrono::seconds>(Date::clock::now()));
}

Date dateFrom(const struct statx_timestamp& stamp) {
  return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(stamp.tv_sec)));
}

std::optional<RecordingManifest> readManifest(int directoryFd, const std::string& relativePath) {
  auto text = readRegularFile(directoryFd, relativePath.c_str(), kMaxManifestBytes);
  if (!text || text->empty()) return std::nullopt;
  return decodeManifest(*text);
}

bool isMovieName(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == "mp4" || extension == "mov" || extension == "m4v";
}

// The hidden names the writers of a recording's folder stage their files under: the
// remuxer's ".<movie>.partial", the trimmer's ".recording-trimmed.mp4.new" and the
// atomic writer's ".<file>.<pid>-<n>.tmp".
bool isStagingName(std::string_view name) {
  return name.size() > 1 && name.front() == '.' &&
         (name.ends_with(".partial") || name.ends_with(".new") || name.ends_with(".tmp"));
}

// A directory entry that is a directory itself (not a symlink to one).
bool isDirectoryEntry(int parentFd, const struct dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN) return false;
  struct stat info {};
  return ::fstatat(parentFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

RecordingVault::RecordingVault(std::filesystem::path root) : root_(std::move(root)) {
  std::error_code error;
  std::filesystem::create_directories(root_, error);
  if (error && !std::filesystem::is_directory(root_)) {
    log_.error("could not create the vault directory {}: {}", root_.string(), error.message());
  }
}

void RecordingVault::setOnChange(std::function<void()> callback) {
  std::lock_guard lock(callbackMutex_);
  onChange_ = std::move(callback);
}

void RecordingVault::notifyChange() {
  std::function<void()> callback;
  {
    std::lock_guard lock(callbackMutex_);
    callback = onChange_;
  }
  if (callback) callback();
}

VaultItem RecordingVault::createRecording(const std::string& title, bool hasCamera, bool hasMicrophone,
                                          bool hasSystemAudio, RecordingLock* lock) {
  const Date now = nowInWholeSeconds();
  auto manifest = RecordingManifest::make(makeUUID(), title, now, RecordingState::recording, kMovieName, 0, 0,
                                          hasCamera, hasMicrophone, hasSystemAudio);
  VaultItem item{root_ / folderName(manifest), std::move(manifest)};

  std::error_code error;
  std::filesystem::create_directories(item.directory, error);
  if (error) {
    throw VaultError(fmt::format("Tolvane could not create a folder for the new recording in {}: {}.",
                                 root_.string(), error.message()));
  }
  std::optional<RecordingLock> held;
  if (lock != nullptr) {
    held = RecordingLock::tryAcquire(item.directory);
    if (!held) {
      throw VaultError(fmt::format("Tolvane could not lock the folder of the new recording in {}.", root_.string()));
    }
  }
  writeManifest(item.manifest, item.directory);
  if (held) *lock = std::move(*held);
  notifyChange();
  return item;
}

std::vector<VaultItem> RecordingVault::all() {
  std::lock_guard lock(mutex_);
  return scanLocked();
}

std::optional<VaultItem> RecordingVault::item(std::string_view id) {
  std::lock_guard lock(mutex_);
  for (auto& item : scanLocked()) {
    if (item.manifest.id == id) return std::move(item);
  }
  return std::nullopt;
}

std::optional<VaultItem> RecordingVault::update(std::string_view id,
                                                const std::function<void(RecordingManifest&)>& mutate) {
  std::optional<VaultItem> updated;
  {
    std::lock_guard lock(mutex_);
    for (auto& item : scanLocked()) {
      if (item.manifest.id != id) continue;
      updated = std::move(item);
      break;
    }
    if (!updated) return std::nullopt;
    mutate(updated->manifest);
    updated->manifest.updatedAt = nowInWholeSeconds();
    // The recorded size follows the file; a missing file keeps the last known size.
    if (const auto size = updated->videoSizeOnDisk(); size > 0) updated->manifest.fileSizeBytes = size;
    try {
      writeManifest(updated->manifest, updated->directory);
    } catch (const VaultError& error) {
      log_.error("{}", error.what());
    }
  }
  notifyChange();
  return updated;
}

void RecordingVault::deleteItem(std::string_view id) {
  std::optional<std::string> failure;
  {
    std::lock_guard lock(mutex_);
    for (const auto& item : scanLocked()) {
      if (item.manifest.id != id) continue;
      // Held while the folder moves, so that no recording or trim starts on it meanwhile.
      const auto held = RecordingLock::tryAcquire(item.directory);
      if (!held && RecordingLock::isHeld(item.directory)) {
        failure = fmt::format("Tolvane is still writing “{}” (it is being recorded or trimmed); stop that before "
                              "moving it to the Trash.",
                              item.manifest.title);
        break;
      }
      GFile* file = g_file_new_for_path(item.directory.c_str());
      GError* error = nullptr;
      if (!g_file_trash(file, nullptr, &error)) {
        failure = fmt::format("Tolvane could not move the recording “{}” to the Trash: {}.", item.manifest.title,
                              error != nullptr ? error->message : "unknown error");
        g_clear_error(&error);
      }
      g_object_unref(file);
      break;
    }
  }
  notifyChange();
  if (failure) throw VaultError(*failure);
}

std::int64_t RecordingVault::availableCapacityBytes() const {
  struct statvfs info {};
  if (::statvfs(root_.c_str(), &info) != 0) return 0;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::uint64_t fragment = info.f_frsize == 0 ? 1 : info.f_frsize;
  if (info.f_bavail > kMax / fragment) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(info.f_bavail * fragment);
}

std::int64_t RecordingVault::totalSizeOnDisk() {
  std::int64_t total = 0;
  for (const auto& item : all()) total += item.videoSizeOnDisk();
  return total;
}

std::string RecordingVault::defaultTitle(Date date) {
  return "Recording — " + formatLocalDate(date, "MMM d, h:mm a", userDateLocale());
}

std::string RecordingVault::folderName(const RecordingManifest& manifest) {
  return formatLocalDate(manifest.createdAt, "yyyy-MM-dd HH-mm-ss", "en_US_POSIX") + " " + manifest.id.substr(0, 8);
}

std::vector<VaultItem> RecordingVault::scanLocked() {
  std::vector<VaultItem> items;
  DirHandle dir(::opendir(root_.c_str()));
  if (!dir) return items;
  const int rootFd = ::dirfd(dir.get());
  const auto now = std::chrono::steady_clock::now();
  const bool sweep = !lastSweep_ || now - *lastSweep_ >= kStagingStaleAfter;
  if (sweep) lastSweep_ = now;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.' || !isDirectoryEntry(rootFd, *entry)) continue;
    if (sweep) removeStaleStagingFiles(rootFd, entry->d_name);
    if (auto item = loadItem(rootFd, entry->d_name)) items.push_back(std::move(*item));
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const VaultItem& a, const VaultItem& b) { return a.manifest.createdAt > b.manifest.createdAt; });
  return items;
}

void RecordingVault::removeStaleStagingFiles(int rootFd, const char* name) {
  const int folderFd = ::openat(rootFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folderFd < 0) return;
  DirHandle dir(::fdopendir(folderFd));
  if (!dir) {
    ::close(folderFd);
    return;
  }
  const auto staleBefore = std::chrono::system_clock::now() - kStagingStaleAfter;
  std::vector<std::string> stale;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    if (!isStagingName(entry->d_name)) continue;
    struct stat info {};
    if (::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    if (std::chrono::system_clock::from_time_t(info.st_mtime) < staleBefore) stale.emplace_back(entry->d_name);
  }
  // A live writer could be stalled rather than dead: its recording is locked.
  if (stale.empty() || RecordingLock::isHeld(root_ / name)) return;
  for (const auto& file : stale) {
    if (::unlinkat(folderFd, file.c_str(), 0) == 0) log_.info("removed the stale staging file {} in {}", file, name);
  }
}

std::optional<VaultItem> RecordingVault::loadItem(int rootFd, const char* name) {
  const std::string folder(name);
  if (auto manifest = readManifest(rootFd, folder + "/" + kManifestName)) {
    return VaultItem{root_ / folder, std::move(*manifest)};
  }
  if (auto backup = readManifest(rootFd, folder + "/" + kBackupName)) {
    log_.error("manifest unreadable at {}; using backup", folder);
    VaultItem item{root_ / folder, std::move(*backup)};
    try {
      writeManifest(item.manifest, item.directory);
    } catch (const VaultError&) {
      // Still listed from the backup; the next scan tries the repair again.
    }
    return item;
  }
  return reconstruct(root_ / folder);
}

std::optional<VaultItem> RecordingVault::reconstruct(const std::filesystem::path& directory) {
  DirHandle dir(::opendir(directory.c_str()));
  if (!dir) return std::nullopt;
  std::optional<std::string> movie;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    // Hidden files are left out: "._clip.mp4" is file-system metadata, not a movie.
    const std::string name = entry->d_name;
    if (name.front() != '.' && isMovieName(name)) {
      movie = name;
      break;
    }
  }
  if (!movie) return std::nullopt;

  std::int64_t size = 0;
  Date created = nowInWholeSeconds();
  struct statx info {};
  if (::statx(::dirfd(dir.get()), movie->c_str(), 0, STATX_SIZE | STATX_BTIME | STATX_MTIME, &info) == 0) {
    size = static_cast<std::int64_t>(info.stx_size);
    // Not every file system records a birth time; the last change of the movie is the
    // nearest date it keeps.
    if (info.stx_mask & STATX_BTIME) {
      created = dateFrom(info.stx_btime);
    } else if (info.stx_mask & STATX_MTIME) {
      created = dateFrom(info.stx_mtime);
    }
  }

  auto manifest = RecordingManifest::make(makeUUID(), defaultTitle(created), created, RecordingState::ready, *movie,
                                          0, size, false, false, false);
  manifest.lastError = "Recovered from disk — the record of this upload was missing.";
  manifest.recoveredFromInterruption = true;
  log_.error("rebuilt a missing manifest for {}", directory.filename().string());
  VaultItem item{directory, std::move(manifest)};
  try {
    writeManifest(item.manifest, item.directory);
  } catch (const VaultError&) {
    // Listed all the same; the next scan rebuilds it again.
  }
  return item;
}

void RecordingVault::writeManifest(const RecordingManifest& manifest, const std::filesystem::path& directory) {
  const std::string text = encodeManifest(manifest);
  const auto current = directory / kManifestName;
  // The backup is kept one write behind. Only a readable manifest is kept: copying a
  // damaged one over a good backup would leave nothing to fall back on if this write
  // were cut short.
  if (auto previous = readRegularFile(AT_FDCWD, current.c_str(), kMaxManifestBytes);
      previous && !previous->empty() && decodeManifest(*previous)) {
    try {
      writeFileAtomically(directory / kBackupName, *previous);
    } catch (const std::system_error&) {
      // The backup is a safety net; the new manifest is still written.
    }
  }
  try {
    writeFileAtomically(current, text);
  } catch (const std::system_error& error) {
    throw VaultError(fmt::format("Tolvane could not save the manifest of “{}” in {}: {}.", manifest.title,
                                 directory.string(), error.code().message()));
  }
}

}  // namespace tolvane
