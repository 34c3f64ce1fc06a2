#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "kit/base/iso8601.h"

namespace tolvane {

// The records the service answers with. Each decodes strictly from its JSON object
// (every field required unless optional; a missing key or a wrong type throws
// DecodingError) and encodes back to the same keys.

// One entry of the web library.
struct RecordingSummary {
  std::string id;
  std::string title;
  std::int64_t durationSec = 0;
  std::string createdAt;  // ISO 8601 text
  std::int64_t views = 0;
  bool mine = false;
  bool sharedWithTeam = false;
  std::string thumbnail;
  std::string shareUrl;

  std::optional<Date> created() const;
  static RecordingSummary fromJSON(const nlohmann::json& object);
  nlohmann::json toJSON() const;
  bool operator==(const RecordingSummary&) const = default;
};

struct AccountInfo {
  std::optional<std::string> email;
  bool pro = false;
  bool lifetime = false;
  bool admin = false;

  static AccountInfo fromJSON(const nlohmann::json& object);
  nlohmann::json toJSON() const;
  bool operator==(const AccountInfo&) const = default;
};

// What the tus uploader needs to create and resume one upload.
struct UploadTicket {
  std::string uid;        // video id on the streaming service
  std::string libraryId;  // video library id on the streaming service
  std::string signature;  // upload authorisation
  std::int64_t expire = 0;  // expiry of the signature, Unix seconds
  std::string endpoint;   // tus creation endpoint URL

  static UploadTicket fromJSON(const nlohmann::json& object);
  nlohmann::json toJSON() const;
  bool operator==(const UploadTicket&) const = default;
};

struct VideoStatus {
  std::string uid;
  std::string name;
  double durationSec = 0;
  bool readyToStream = false;

  static VideoStatus fromJSON(const nlohmann::json& object);
  nlohmann::json toJSON() const;
  bool operator==(const VideoStatus&) const = default;
};

}  // namespace tolvane
