#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kit/base/iso8601.h"
#include "kit/vault/recording_state.h"

namespace tolvane {

// The durable record of one recording, kept as "manifest.json" beside its movie file.
// Every change after creation goes through RecordingVault::update. The JSON form (keys
// sorted, dates as whole-second UTC ISO 8601, optional keys left out) is written and
// read by encodeManifest/decodeManifest in manifest_json.h.
struct RecordingManifest {
  static constexpr int currentSchema = 1;

  int schemaVersion = currentSchema;  // kept as read, even when it is not currentSchema
  std::string id;                     // upper-case canonical UUID
  std::string title;
  Date createdAt{};
  Date updatedAt{};                   // set by every vault update
  RecordingState state = RecordingState::recording;
  std::string fileName;               // the movie file inside the recording's directory
  double durationSec = 0;
  std::int64_t fileSizeBytes = 0;
  std::optional<std::string> uploadUID;     // the service's video id, once a ticket was obtained
  std::optional<std::string> tusUploadURL;  // absolute text of the tus upload URL, to resume
  std::int64_t uploadedBytes = 0;
  std::optional<std::string> shareURL;      // set once the recording is saved to the library
  std::optional<std::string> lastError;     // the user-facing sentence about the last problem
  // What the user should know about a recording that otherwise went well (sound it went
  // on without). Not a problem: the upload queue leaves it alone and it never stops the
  // item being marked for sign-in.
  std::optional<std::string> notice;
  int attemptCount = 0;                     // upload attempts started
  std::optional<Date> nextAttemptAt;        // no upload attempt before this time
  std::optional<Date> holdUploadUntil;      // upload held back while the user reviews
  bool hasCamera = false;
  bool hasMicrophone = false;
  bool hasSystemAudio = false;
  bool recoveredFromInterruption = false;

  // A new manifest: `updatedAt` = `createdAt`, the upload fields empty, counters 0.
  static RecordingManifest make(std::string id, std::string title, Date createdAt, RecordingState state,
                                std::string fileName, double durationSec, std::int64_t fileSizeBytes, bool hasCamera,
                                bool hasMicrophone, bool hasSystemAudio);

  bool operator==(const RecordingManifest&) const = default;
};

}  // namespace tolvane
