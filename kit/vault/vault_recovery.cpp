#include "kit/vault/vault_recovery.h"

#include <optional>
#include <system_error>

#include "kit/media/media_probe.h"
#include "kit/vault/recording_lock.h"

namespace tolvane {
namespace {

// Anything this short is a false start, not a recording worth uploading.
constexpr double kMinimumPlayableSeconds = 0.2;

constexpr const char* kEmptyText = "Tolvane stopped before this recording captured anything.";
constexpr const char* kUnreadableText =
    "Tolvane was interrupted while writing this. The file is kept in place — open it in a video player to check what "
    "survived.";

}  // namespace

double VaultRecovery::probeDuration(const std::filesystem::path& movie) { return tolvane::probeDuration(movie); }

RecoveryReport VaultRecovery::recoverInterrupted() {
  RecoveryReport report;
  for (const VaultItem& item : vault_.all()) {
    if (!wasInterrupted(item.manifest.state)) continue;
    if (RecordingLock::isHeld(item.directory)) {
      log_.info("{} is still being recorded by a running Tolvane; recovery leaves it alone", item.id());
      report.inProgress.push_back(item.id());
      continue;
    }
    const std::int64_t size = item.videoSizeOnDisk();
    std::error_code ignored;
    const bool exists = std::filesystem::exists(item.videoPath(), ignored);

    if (!exists || size <= 0) {
      vault_.update(item.id(), [](RecordingManifest& m) {
        m.state = RecordingState::needsAttention;
        m.recoveredFromInterruption = true;
        m.lastError = kEmptyText;
      });
      report.empty.push_back(item.id());
      continue;
    }

    const double duration = probeDuration(item.videoPath());
    if (duration > kMinimumPlayableSeconds) {
      vault_.update(item.id(), [duration, size](RecordingManifest& m) {
        m.state = RecordingState::ready;
        m.durationSec = duration;
        m.fileSizeBytes = size;
        m.recoveredFromInterruption = true;
        m.lastError = std::nullopt;
        m.nextAttemptAt = std::nullopt;
      });
      log_.info("recovered {}: {:.1f}s, {} bytes", item.id(), duration, size);
      report.recovered.push_back(item.id());
      continue;
    }

    vault_.update(item.id(), [size](RecordingManifest& m) {
      m.state = RecordingState::needsAttention;
      m.durationSec = 0;
      m.fileSizeBytes = size;
      m.recoveredFromInterruption = true;
      m.lastError = kUnreadableText;
    });
    log_.error("interrupted recording {} is not readable ({} bytes kept)", item.id(), size);
    report.unreadable.push_back(item.id());
  }
  return report;
}

}  // namespace tolvane
