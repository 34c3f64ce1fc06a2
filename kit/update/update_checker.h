#pragma once

#include <memory>
#include <stop_token>
#include <string>

#include "kit/config/url.h"
#include "kit/net/http_performing.h"
#include "kit/update/desktop_release.h"

namespace tolvane {

// Asks the service for the latest desktop release. No authorisation is needed.
class UpdateChecker {
 public:
  UpdateChecker(std::shared_ptr<HTTPPerforming> http, Url siteURL);

  // Transport errors and decoding errors propagate unchanged; any answer other than a
  // 200 is HTTPError(<its status>, "Couldn't check for updates.").
  DesktopRelease latest(std::stop_token stop = {}) const;

 private:
  std::shared_ptr<HTTPPerforming> http_;
  Url siteURL_;
};

}  // namespace tolvane
