#include "kit/vault/manifest_json.h"

#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

namespace tolvane {
namespace {

using nlohmann::json;

// Each reader returns false when the key is missing (unless optional) or mistyped.
class StrictReader {
 public:
  explicit StrictReader(const json& object) : object_(object) {}

  bool string(const char* key, std::string& out) const {
    const json* value = find(key);
    if (value == nullptr || !value->is_string()) return false;
    out = value->get_ref<const std::string&>();
    return true;
  }

  bool int64(const char* key, std::int64_t& out) const {
    const json* value = find(key);
    if (value == nullptr) return false;
    if (value->is_number_unsigned()) {
      const auto raw = value->get<std::uint64_t>();
      if (raw > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
      out = static_cast<std::int64_t>(raw);
      return true;
    }
    if (!value->is_number_integer()) return false;
    out = value->get<std::int64_t>();
    return true;
  }

  bool integer(const char* key, int& out) const {
    std::int64_t wide = 0;
    if (!int64(key, wide)) return false;
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max()) return false;
    out = static_cast<int>(wide);
    return true;
  }

  bool number(const char* key, double& out) const {
    const json* value = find(key);
    if (value == nullptr || !value->is_number()) return false;
    out = value->get<double>();
    return true;
  }

  bool boolean(const char* key, bool& out) const {
    const json* value = find(key);
    if (value == nullptr || !value->is_boolean()) return false;
    out = value->get<bool>();
    return true;
  }

  bool date(const char* key, Date& out) const {
    const json* value = find(key);
    if (value == nullptr || !value->is_string()) return false;
    auto parsed = parseISO8601(value->get_ref<const std::string&>());
    if (!parsed) return false;
    out = *parsed;
    return true;
  }

  bool state(const char* key, RecordingState& out) const {
    const json* value = find(key);
    if (value == nullptr || !value->is_string()) return false;
    auto parsed = recordingStateFromRawValue(value->get_ref<const std::string&>());
    if (!parsed) return false;
    out = *parsed;
    return true;
  }

  // Absent or null gives none; present with another type is a failure.
  bool optionalString(const char* key, std::optional<std::string>& out) const {
    if (isAbsent(key)) return clear(out);
    out.emplace();
    return string(key, *out);
  }

  bool optionalDate(const char* key, std::optional<Date>& out) const {
    if (isAbsent(key)) return clear(out);
    out.emplace();
    return date(key, *out);
  }

 private:
  const json* find(const char* key) const {
    const auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  bool isAbsent(const char* key) const {
    const json* value = find(key);
    return value == nullptr || value->is_null();
  }
  template <typename T>
  static bool clear(std::optional<T>& out) {
    out.reset();
    return true;
  }

  const json& object_;
};

template <typename T>
void setIfPresent(json& object, const char* key, const std::optional<T>& value) {
  if (value) object[key] = *value;
}

void setIfPresent(json& object, const char* key, const std::optional<Date>& value) {
  if (value) object[key] = formatISO8601(*value);
}

}  // namespace

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
  object["attemptCount"] = m.attemptCount;
  setIfPresent(object, "nextAttemptAt", m.nextAttemptAt);
  setIfPresent(object, "holdUploadUntil", m.holdUploadUntil);
  object["hasCamera"] = m.hasCamera;
  object["hasMicrophone"] = m.hasMicrophone;
  object["hasSystemAudio"] = m.hasSystemAudio;
  object["recoveredFromInterruption"] = m.recoveredFromInterruption;
  return object;
}

std::optional<RecordingManifest> manifestFromJSON(const json& object) {
  if (!object.is_object()) return std::nullopt;
  const StrictReader read(object);
  RecordingManifest m;
  const bool ok = read.integer("schemaVersion", m.schemaVersion) && read.string("id", m.id) &&
                  read.string("title", m.title) && read.date("createdAt", m.createdAt) &&
                  read.date("updatedAt", m.updatedAt) && read.state("state", m.state) &&
                  read.string("fileName", m.fileName) && read.number("durationSec", m.durationSec) &&
                  read.int64("fileSizeBytes", m.fileSizeBytes) && read.optionalString("uploadUID", m.uploadUID) &&
                  read.optionalString("tusUploadURL", m.tusUploadURL) &&
                  read.int64("uploadedBytes", m.uploadedBytes) && read.optionalString("shareURL", m.shareURL) &&
                  read.optionalString("lastError", m.lastError) && read.integer("attemptCount", m.attemptCount) &&
                  read.optionalDate("nextAttemptAt", m.nextAttemptAt) &&
                  read.optionalDate("holdUploadUntil", m.holdUploadUntil) && read.boolean("hasCamera", m.hasCamera) &&
                  read.boolean("hasMicrophone", m.hasMicrophone) && read.boolean("hasSystemAudio", m.hasSystemAudio) &&
                  read.boolean("recoveredFromInterruption", m.recoveredFromInterruption);
  if (!ok) return std::nullopt;
  return m;
}

std::string encodeManifest(const RecordingManifest& manifest) {
  return manifestToJSON(manifest).dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace tolvane
