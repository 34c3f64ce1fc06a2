#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kit/config/url.h"
#include "kit/net/http_performing.h"
#include "kit/upload/service_records.h"

namespace tolvane {

class AuthStore;

// The client of the web service that holds the user's library. Thread-safe: it keeps
// no state beyond its two shared references, so requests from several threads run at
// once. Every request carries the user's bearer token and is sent once more after a
// forced token refresh when the service answers 401.
//
// Errors: the auth store's AuthError unchanged (signed out, refresh failed);
// LocalUploadError when the request's URL does not parse or a duration is not finite;
// HTTPError(0, <transport sentence>) when no answer came; the error body's HTTPError for
// any status other than 200; HTTPError(200, "Tolvane sent back something unexpected.") for a 200 whose
// body is not the expected record; CancellationError when `stop` is triggered.
class TolvaneAPI {
 public:
  // `siteURL` is the service's base address; paths are appended to its text as is.
  TolvaneAPI(std::shared_ptr<AuthStore> auth, std::shared_ptr<HTTPPerforming> http, Url siteURL);

  AccountInfo me(std::stop_token stop = {});
  // One page of the library, newest first: at most `limit` recordings after the newest
  // `offset`. The first page's request carries no offset.
  std::vector<RecordingSummary> library(std::int64_t limit, std::int64_t offset = 0, std::stop_token stop = {});
  UploadTicket createUploadTicket(const std::string& name, std::stop_token stop = {});
  UploadTicket resignUploadTicket(const std::string& uid, std::stop_token stop = {});
  // Returns the recording's share link when the service gave one. `durationSec` is sent
  // as whole seconds, rounded half away from zero; it must be finite and fit in 64 bits.
  std::optional<std::string> saveRecording(const std::string& uid, const std::string& title, double durationSec,
                                           std::stop_token stop = {});
  VideoStatus videoStatus(const std::string& uid, std::stop_token stop = {});
  void rename(const std::string& uid, const std::string& title, std::stop_token stop = {});

 private:
  struct RawResponse {
    std::string body;
    std::int64_t status = 0;
  };

  RawResponse raw(const std::string& path, const std::string& method, const std::optional<std::string>& body,
                  bool retryOn401, const std::stop_token& stop);
  // The body of a 200 answer as a JSON object; any other status is the error body's
  // HTTPError, an unreadable body "Tolvane sent back something unexpected.".
  nlohmann::json send(const std::string& path, const std::string& method, const std::optional<std::string>& body,
                      const std::stop_token& stop);
  nlohmann::json post(const std::string& path, const nlohmann::json& body, const std::stop_token& stop);

  std::shared_ptr<AuthStore> auth_;
  std::shared_ptr<HTTPPerforming> http_;
  Url siteURL_;
};

}  // namespace tolvane
