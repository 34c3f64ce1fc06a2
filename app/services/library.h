#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "kit/upload/upload_queue.h"
#include "kit/vault/recording_vault.h"
#include "kit/vault/trimmer.h"
#include "kit/vault/vault_recovery.h"

namespace tolvane {

// What a front end does to the recordings in the vault: find one by what the user typed,
// trim one, settle the ones a crash interrupted. Errors are exceptions whose what() is
// the sentence for the user.
class Library {
 public:
  // `queue` (may be null) is asked whether it is uploading a recording before a trim.
  Library(std::shared_ptr<RecordingVault> vault, std::shared_ptr<UploadQueue> queue);

  // Throws "Tolvane could not open the vault at …" when the vault's directory could not
  // be created.
  void requireAccessible() const;

  // The recording whose id is `idOrPrefix`, or the only one whose id starts with it
  // (ignoring case), so "1f3a" names a recording. Throws when none or several match.
  VaultItem find(std::string_view idOrPrefix) const;

  // Keeps [start, end) seconds of the recording and points its manifest at the new file
  // (its hold on upload cleared, as after a failed trim too), then asks the queue for a
  // pass. Refused once bytes of the recording went to the server or it has a link: the
  // recording the service knows must stay the one on disk. While the file is cut the
  // recording is held from every upload queue, even another process's, and its lock is
  // held; a recording that is locked (being recorded or trimmed) is refused. Throws
  // Trimmer::TrimError, or the refusal.
  Trimmer::Result trim(const std::string& id, double start, double end);

  RecoveryReport recoverInterrupted();

 private:
  void releaseHold(const std::string& id);

  std::shared_ptr<RecordingVault> vault_;
  std::shared_ptr<UploadQueue> queue_;
};

}  // namespace tolvane
