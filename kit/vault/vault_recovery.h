#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kit/base/log.h"
#include "kit/vault/recording_vault.h"

namespace tolvane {

// What recovery did, as recording ids in processing order (the vault's, newest first).
struct RecoveryReport {
  std::vector<std::string> recovered;   // the file plays; now `ready`
  std::vector<std::string> unreadable;  // a non-empty file whose length could not be read
  std::vector<std::string> empty;       // no file, or an empty one
  std::vector<std::string> inProgress;  // locked: a live process still records it; left alone

  bool isEmpty() const { return recovered.empty() && unreadable.empty() && empty.empty() && inProgress.empty(); }
  bool operator==(const RecoveryReport&) const = default;
};

// Settles recordings that a crash, a forced quit or an emergency stop left in state
// `recording` or `finalizing`: each becomes `ready` when its movie plays for more than
// 0.2 s, otherwise `needsAttention` with a sentence for the user. A recording whose lock
// is held (recording_lock.h) is not interrupted but in progress in another process (or
// another part of this one), and is left alone. Movie files are never
// modified, moved or deleted. Runs once per launch, before the upload queue starts.
class VaultRecovery {
 public:
  explicit VaultRecovery(RecordingVault& vault) : vault_(vault) {}

  // Never throws; manifest writes that fail are silent, and the item is then examined
  // again at the next launch.
  RecoveryReport recoverInterrupted();

  // The measured playable length of a movie in seconds; 0 when unknown.
  static double probeDuration(const std::filesystem::path& movie);

 private:
  RecordingVault& vault_;
  Logger log_{"recovery"};
};

}  // namespace tolvane
