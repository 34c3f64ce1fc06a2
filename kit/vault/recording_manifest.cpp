#include "kit/vault/recording_manifest.h"

#include <utility>

namespace tolvane {

RecordingManifest RecordingManifest::make(std::string id, std::string title, Date createdAt, RecordingState state,
                                          std::string fileName, double durationSec, std::int64_t fileSizeBytes,
                                          bool hasCamera, bool hasMicrophone, bool hasSystemAudio) {
  RecordingManifest manifest;
  manifest.id = std::move(id);
  manifest.title = std::move(title);
  manifest.createdAt = createdAt;
  manifest.updatedAt = createdAt;
  manifest.state = state;
  manifest.fileName = std::move(fileName);
  manifest.durationSec = durationSec;
  manifest.fileSizeBytes = fileSizeBytes;
  manifest.hasCamera = hasCamera;
  manifest.hasMicrophone = hasMicrophone;
  manifest.hasSystemAudio = hasSystemAudio;
  return manifest;
}

}  // namespace tolvane
