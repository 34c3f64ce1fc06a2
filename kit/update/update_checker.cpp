#include "kit/update/update_checker.h"

#include "kit/net/http_error.h"
#include "kit/net/json_fields.h"

namespace tolvane {

UpdateChecker::UpdateChecker(std::shared_ptr<HTTPPerforming> http, Url siteURL)
    : http_(std::move(http)), siteURL_(std::move(siteURL)) {}

DesktopRelease UpdateChecker::latest(std::stop_token stop) const {
  HTTPRequest request;
  request.method = "GET";
  request.url = siteURL_.appendingPathComponent("api/linux/latest").text();
  request.timeoutSec = 60;
  const HTTPResponse response = http_->data(request, std::move(stop));
  if (response.status != 200) throw HTTPError(response.status, "Couldn't check for updates.");
  return DesktopRelease::fromJSON(json::parseObject(response.body));
}

}  // namespace tolvane
