#include "kit/upload/tolvane_api.h"

#include <cmath>

#include "kit/auth/auth_store.h"
#include "kit/base/errors.h"
#include "kit/net/http_error.h"
#include "kit/net/json_fields.h"
#include "kit/net/transport_error.h"
#include "kit/upload/local_upload_error.h"

namespace tolvane {
namespace {

// Runs `decode` on a 200 answer; a body that is not the record becomes the one
// "unexpected" error so the user never sees a decoder's wording.
template <typename Decode>
auto decodeOrUnexpected(Decode&& decode) -> decltype(decode()) {
  try {
    return decode();
  } catch (const DecodingError&) {
    throw HTTPError::unexpectedBody();
  }
}

std::int64_t wholeSeconds(double durationSec) {
  const double rounded = std::round(durationSec);  // halves away from zero
  if (!std::isfinite(rounded) || rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0) {
    throw LocalUploadError("A recording's duration must be a finite number of seconds.");
  }
  return static_cast<std::int64_t>(rounded);
}

}  // namespace

TolvaneAPI::TolvaneAPI(std::shared_ptr<AuthStore> auth, std::shared_ptr<HTTPPerforming> http, Url siteURL)
    : auth_(std::move(auth)), http_(std::move(http)), siteURL_(std::move(siteURL)) {}

TolvaneAPI::RawResponse TolvaneAPI::raw(const std::string& path, const std::string& method,
                                        const std::optional<std::string>& body, bool retryOn401,
                                        const std::stop_token& stop) {
  const std::string token = auth_->validAccessToken(stop);
  const auto url = Url::parse(siteURL_.text() + path);
  if (!url) throw LocalUploadError("Tolvane couldn't make a valid address for that request.");

  HTTPRequest request;
  request.url = url->text();
  request.timeoutSec = 60;
  request.method = method;
  request.headers.emplace_back("Authorization", "Bearer " + token);
  if (body) {
    request.body = body;
    request.headers.emplace_back("Content-Type", "application/json");
  }

  HTTPResponse response;
  try {
    response = http_->data(request, stop);
  } catch (const TransportError& error) {
    // An address the transport refused is a fault here, not a missing answer.
    if (error.kind() == TransportError::Kind::badURL) throw LocalUploadError(error.what());
    throw HTTPError(0, error.what());
  }
  if (response.status == 401 && retryOn401) {
    auth_->forceRefresh(stop);
    return raw(path, method, body, false, stop);
  }
  return {std::move(response.body), response.status};
}

nlohmann::json TolvaneAPI::send(const std::string& path, const std::string& method,
                                const std::optional<std::string>& body, const std::stop_token& stop) {
  const RawResponse response = raw(path, method, body, true, stop);
  // 201, 204 and friends are failures too: the service answers every success with 200.
  if (response.status != 200) throw HTTPError::fromResponse(response.status, response.body);
  return decodeOrUnexpected([&] { return json::parseObject(response.body); });
}

nlohmann::json TolvaneAPI::post(const std::string& path, const nlohmann::json& body, const std::stop_token& stop) {
  return send(path, "POST", body.dump(), stop);
}

AccountInfo TolvaneAPI::me(std::stop_token stop) {
  const auto object = send("/api/me", "GET", std::nullopt, stop);
  return decodeOrUnexpected([&] { return AccountInfo::fromJSON(object); });
}

std::vector<RecordingSummary> TolvaneAPI::library(std::int64_t limit, std::int64_t offset, std::stop_token stop) {
  std::string path = "/api/recordings?limit=" + std::to_string(limit);
  if (offset > 0) path += "&offset=" + std::to_string(offset);
  const auto object = send(path, "GET", std::nullopt, stop);
  return decodeOrUnexpected([&] {
    std::vector<RecordingSummary> recordings;
    for (const auto& entry : json::requireArray(object, "recordings")) {
      recordings.push_back(RecordingSummary::fromJSON(entry));
    }
    return recordings;
  });
}

UploadTicket TolvaneAPI::createUploadTicket(const std::string& name, std::stop_token stop) {
  const auto object = post("/api/stream/upload-url", {{"name", name}}, stop);
  return decodeOrUnexpected([&] { return UploadTicket::fromJSON(object); });
}

UploadTicket TolvaneAPI::resignUploadTicket(const std::string& uid, std::stop_token stop) {
  const auto object = post("/api/stream/upload-url", {{"uid", uid}}, stop);
  return decodeOrUnexpected([&] { return UploadTicket::fromJSON(object); });
}

std::optional<std::string> TolvaneAPI::saveRecording(const std::string& uid, const std::string& title,
                                                     double durationSec, std::stop_token stop) {
  const nlohmann::json body = {{"uid", uid}, {"title", title}, {"durationSec", wholeSeconds(durationSec)}};
  const auto object = post("/api/recordings", body, stop);
  return decodeOrUnexpected([&] {
    json::requireBool(object, "ok");  // required, its value is not examined
    return json::optionalString(object, "shareUrl");
  });
}

VideoStatus TolvaneAPI::videoStatus(const std::string& uid, std::stop_token stop) {
  const auto object = send("/api/stream/video/" + uid, "GET", std::nullopt, stop);
  return decodeOrUnexpected([&] { return VideoStatus::fromJSON(object); });
}

void TolvaneAPI::rename(const std::string& uid, const std::string& title, std::stop_token stop) {
  const nlohmann::json body = {{"title", title}};
  const auto object = send("/api/recordings/" + uid, "PATCH", body.dump(), stop);
  decodeOrUnexpected([&] { return json::optionalBool(object, "ok"); });
}

}  // namespace tolvane
