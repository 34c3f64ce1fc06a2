#pragma once

#include <stdexcept>
#include <string>

#include "kit/vault/vault_item.h"

namespace tolvane {

// Cuts a recording down to the range chosen in review: the kept range is copied, without
// re-encoding, into "recording-trimmed.mp4" beside the original, with its index at the
// front for progressive playback. The manifest is left to the caller; the original file
// stays in place.
class Trimmer {
 public:
  static constexpr const char* trimmedFileName = "recording-trimmed.mp4";

  class TrimError : public std::runtime_error {
   public:
    enum class Kind { exportFailed, unreadable, rangeTooShort };

    static TrimError exportFailed(const std::string& reason) {
      return TrimError(Kind::exportFailed, "Trimming failed: " + reason);
    }
    static TrimError unreadable() {
      return TrimError(Kind::unreadable, "Tolvane couldn't read that recording to trim it.");
    }
    static TrimError rangeTooShort() {
      return TrimError(Kind::rangeTooShort, "Keep at least half a second of the recording.");
    }

    Kind kind() const { return kind_; }

   private:
    TrimError(Kind kind, const std::string& sentence) : std::runtime_error(sentence), kind_(kind) {}
    Kind kind_;
  };

  struct Result {
    std::string fileName;
    double duration = 0;  // measured from the new file, not end − start
  };

  // Keeps [start, end) seconds of the item's current movie. Throws TrimError; on any
  // failure the current movie and the manifest are as they were.
  static Result trim(const VaultItem& item, double start, double end);
};

}  // namespace tolvane
