#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "kit/vault/recording_manifest.h"

namespace tolvane {

// One recording in the vault: its directory and its manifest. A value; it does not
// follow later changes on disk (ask the vault again for those). The path members are
// inside `directory`.
struct VaultItem {
  std::filesystem::path directory;
  RecordingManifest manifest;

  const std::string& id() const { return manifest.id; }
  std::filesystem::path videoPath() const { return directory / manifest.fileName; }

  // Whether anything exists at videoPath() (a dangling symlink counts as missing).
  bool videoExists() const;
  // Size in bytes of the movie file; 0 when it is missing or cannot be read.
  std::int64_t videoSizeOnDisk() const;

  bool operator==(const VaultItem&) const = default;
};

}  // namespace tolvane
