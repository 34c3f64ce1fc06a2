#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "kit/vault/recording_manifest.h"

namespace tolvane {

// One recording in the vault: its directory and its manifest. A value; it does not
// follow later changes on disk (ask the vault again for those). The "URL" members are
// paths inside `directory`.
struct VaultItem {
  std::filesystem::path directory;
  RecordingManifest manifest;

  const std::string& id() const { return manifest.id; }
  std::filesystem::path videoURL() const { return directory / manifest.fileName; }
  std::filesystem::path manifestURL() const { return directory / "manifest.json"; }
  std::filesystem::path backupManifestURL() const { return directory / "manifest.backup.json"; }
  // A name reserved beside the movie; nothing writes or reads it yet.
  std::filesystem::path thumbnailURL() const { return directory / "thumbnail.jpg"; }

  // Whether anything exists at videoURL() (a dangling symlink counts as missing).
  bool videoExists() const;
  // Size in bytes of the movie file; 0 when it is missing or cannot be read.
  std::int64_t videoSizeOnDisk() const;

  bool operator==(const VaultItem&) const = default;
};

}  // namespace tolvane
