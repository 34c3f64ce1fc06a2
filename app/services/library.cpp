#include "app/services/library.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

namespace tolvane {
namespace {

// Long enough for any trim; released as soon as the trim ends either way.
constexpr auto kTrimHold = std::chrono::hours(1);

class TrimRefused : public std::runtime_error {
 public:
  TrimRefused() : std::runtime_error("That recording has started uploading, so it can't be trimmed.") {}
};

class TrimRefusedWhileWriting : public std::runtime_error {
 public:
  TrimRefusedWhileWriting()
      : std::runtime_error("Tolvane is still writing that recording (it is being recorded or trimmed), so it can't be "
                           "trimmed yet.") {}
};

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
  });
}

bool hasStartedUploading(const RecordingManifest& manifest) {
  return manifest.uploadedBytes > 0 || manifest.shareURL.has_value();
}

}  // namespace

Library::Library(std::shared_ptr<RecordingVault> vault, std::shared_ptr<UploadQueue> queue)
    : vault_(std::move(vault)), queue_(std::move(queue)) {}

void Library::requireAccessible() const {
  std::error_code error;
  if (!std::filesystem::is_directory(vault_->root(), error)) {
    throw std::runtime_error(fmt::format("Tolvane could not open the vault at {}.", vault_->root().string()));
  }
}

VaultItem Library::find(std::string_view idOrPrefix) const {
  std::vector<VaultItem> matches;
  for (auto& item : vault_->all()) {
    if (item.id() == idOrPrefix) return item;
    if (!idOrPrefix.empty() && startsWithIgnoringCase(item.id(), idOrPrefix)) matches.push_back(std::move(item));
  }
  if (matches.size() == 1) return std::move(matches.front());
  if (matches.empty()) throw std::runtime_error(fmt::format("No recording has the id {}.", idOrPrefix));
  throw std::runtime_error(fmt::format("The id {} matches {} recordings; give more of it.", idOrPrefix, matches.size()));
}

Trimmer::Result Library::trim(const std::string& id, double start, double end) {
  if (queue_ && queue_->uploadingID() == id) throw TrimRefused();
  const auto current = vault_->item(id);
  if (!current) throw std::runtime_error(fmt::format("No recording has the id {}.", id));
  // Held until the manifest names the new file: no recording, delete or other trim
  // touches the folder meanwhile, and every upload queue passes the recording over.
  const auto writing = RecordingLock::tryAcquire(current->directory);
  if (!writing && RecordingLock::isHeld(current->directory)) throw TrimRefusedWhileWriting();
  // The check and the hold are one manifest write, so no queue picks the recording
  // between them.
  int attemptsBefore = 0;
  const auto held = vault_->update(id, [&](RecordingManifest& manifest) {
    if (hasStartedUploading(manifest)) throw TrimRefused();
    attemptsBefore = manifest.attemptCount;
    manifest.holdUploadUntil = std::chrono::system_clock::now() + kTrimHold;
  });
  if (!held) throw std::runtime_error(fmt::format("No recording has the id {}.", id));

  Trimmer::Result result;
  try {
    result = Trimmer::trim(*held, start, end);
    // A queue that took the recording just before the hold may have started meanwhile.
    if (queue_ && queue_->uploadingID() == id) throw TrimRefused();
    vault_->update(id, [&](RecordingManifest& manifest) {
      if (hasStartedUploading(manifest) || manifest.attemptCount != attemptsBefore) throw TrimRefused();
      manifest.fileName = result.fileName;
      manifest.durationSec = result.duration;
      manifest.fileSizeBytes = 0;  // the vault's next write measures the new file
      manifest.holdUploadUntil = std::nullopt;
    });
  } catch (...) {
    releaseHold(id);
    throw;
  }
  if (queue_) queue_->kick(UploadQueue::Trigger::manual);
  return result;
}

void Library::releaseHold(const std::string& id) {
  vault_->update(id, [](RecordingManifest& manifest) { manifest.holdUploadUntil = std::nullopt; });
  if (queue_) queue_->kick(UploadQueue::Trigger::manual);
}

RecoveryReport Library::recoverInterrupted() { return VaultRecovery(*vault_).recoverInterrupted(); }

}  // namespace tolvane
