#include "kit/upload/service_records.h"

#include "kit/base/iso8601.h"
#include "kit/net/json_fields.h"

namespace tolvane {

std::optional<Date> RecordingSummary::created() const { return parseISO8601WithFraction(createdAt); }

RecordingSummary RecordingSummary::fromJSON(const nlohmann::json& object) {
  return {.id = json::requireString(object, "id"),
          .title = json::requireString(object, "title"),
          .durationSec = json::requireInt64(object, "durationSec"),
          .createdAt = json::requireString(object, "createdAt"),
          .views = json::requireInt64(object, "views"),
          .mine = json::requireBool(object, "mine"),
          .sharedWithTeam = json::requireBool(object, "sharedWithTeam"),
          .thumbnail = json::requireString(object, "thumbnail"),
          .shareUrl = json::requireString(object, "shareUrl")};
}

nlohmann::json RecordingSummary::toJSON() const {
  return {{"id", id},     {"title", title}, {"durationSec", durationSec}, {"createdAt", createdAt},
          {"views", views}, {"mine", mine},   {"sharedWithTeam", sharedWithTeam}, {"thumbnail", thumbnail},
          {"shareUrl", shareUrl}};
}

AccountInfo AccountInfo::fromJSON(const nlohmann::json& object) {
  return {.email = json::optionalString(object, "email"),
          .pro = json::requireBool(object, "pro"),
          .lifetime = json::requireBool(object, "lifetime"),
          .admin = json::requireBool(object, "admin")};
}

nlohmann::json AccountInfo::toJSON() const {
  nlohmann::json object = {{"pro", pro}, {"lifetime", lifetime}, {"admin", admin}};
  if (email) object["email"] = *email;
  return object;
}

UploadTicket UploadTicket::fromJSON(const nlohmann::json& object) {
  return {.uid = json::requireString(object, "uid"),
          .libraryId = json::requireString(object, "libraryId"),
          .signature = json::requireString(object, "signature"),
          .expire = json::requireInt64(object, "expire"),
          .endpoint = json::requireString(object, "endpoint")};
}

nlohmann::json UploadTicket::toJSON() const {
  return {{"uid", uid}, {"libraryId", libraryId}, {"signature", signature}, {"expire", expire}, {"endpoint", endpoint}};
}

VideoStatus VideoStatus::fromJSON(const nlohmann::json& object) {
  return {.uid = json::requireString(object, "uid"),
          .name = json::requireString(object, "name"),
          .durationSec = json::requireDouble(object, "durationSec"),
          .readyToStream = json::requireBool(object, "readyToStream")};
}

nlohmann::json VideoStatus::toJSON() const {
  return {{"uid", uid}, {"name", name}, {"durationSec", durationSec}, {"readyToStream", readyToStream}};
}

}  // namespace tolvane
