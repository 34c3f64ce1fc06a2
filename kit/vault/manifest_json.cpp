#include "kit/vault/manifest_json.h"

#include <nlohmann/json.hpp>

namespace tolvane {
namespace {

using nlohmann::json;

template <typename T>
void setIfPresent(json& object, const char* key, const std::optional<T>& value) {
  if (value) object[key] = *value;
}

void setIfPresent(json& object, const char* key, const std::optional<Date>& value) {
  if (value) object[key] = formatISO8601(*value);
}

json manifestToJSON(const RecordingManifest& m) {
  json object = json::object();
  object["schemaVersion"] = m.schemaVersion;
  object["id"] = m.id;
  object["title"] = m.title;
  object["createdAt"] = formatISO8601(m.createdAt);
  object["updatedAt"] = formatISO8601(m.updatedAt);
  object["state"] = rawValue(m.state);
  object["fileName"] = m.fileName;
  object["durationSec"] = m.durationSec;
  object["fileSizeBytes"] = m.fileSizeBytes;
  setIfPresent(object, "uploadUID", m.uploadUID);
  setIfPresent(object, "tusUploadURL", m.tusUploadURL);
  object["uploadedBytes"] = m.uploadedBytes;
  setIfPresent(object, "shareURL", m.shareURL);
  setIfPresent(object, "lastError", m.lastError);
  setIfPresent(object, "notice", m.notice);
  object["attemptCount"] = m.attemptCount;
  setIfPresent(object, "nextAttemptAt", m.nextAttemptAt);
  setIfPresent(object, "holdUploadUntil", m.holdUploadUntil);
  object["hasCamera"] = m.hasCamera;
  object["hasMicrophone"] = m.hasMicrophone;
  object["hasSystemAudio"] = m.hasSystemAudio;
  object["recoveredFromInterruption"] = m.recoveredFromInterruption;
  return object;
}

}  // namespace

std::string encodeManifest(const RecordingManifest& manifest) {
  return manifestToJSON(manifest).dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace tolvane
