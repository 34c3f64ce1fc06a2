#pragma once

#include <memory>
#include <stop_token>
#include <string>

#include "kit/upload/http_performing.h"
#include "kit/upload/mac_release.h"

namespace tolvane {

// Asks the service for the latest desktop release. No authorisation is needed.
class UpdateChecker {
 public:
  UpdateChecker(std::shared_ptr<HTTPPerforming> http, std::string siteURL);

  // Transport errors and decoding errors propagate unchanged; any answer other than a
  // 200 is HTTPError(0, "Couldn't check for updates.").
  MacRelease latest(std::stop_token stop = {}) const;

 private:
  std::shared_ptr<HTTPPerforming> http_;
  std::string siteURL_;
};

}  // namespace tolvane
