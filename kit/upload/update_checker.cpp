#include "kit/upload/update_checker.h"

#include "kit/upload/http_error.h"
#include "kit/upload/json_fields.h"
#include "kit/upload/url_text.h"

namespace tolvane {

UpdateChecker::UpdateChecker(std::shared_ptr<HTTPPerforming> http, std::string siteURL)
    : http_(std::move(http)), siteURL_(std::move(siteURL)) {}

MacRelease UpdateChecker::latest(std::stop_token stop) const {
  HTTPRequest request;
  request.method = "GET";
  request.url = appendingPathComponent(siteURL_, "/api/mac/latest");
  request.timeoutSec = 60;
  request.reloadIgnoringCache = true;
  const HTTPResponse response = http_->data(request, std::move(stop));
  if (response.status != 200) throw HTTPError(0, "Couldn't check for updates.");
  return MacRelease::fromJSON(json::parseObject(response.body));
}

}  // namespace tolvane
