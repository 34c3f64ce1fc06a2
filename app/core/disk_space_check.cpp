#include "app/core/disk_space_check.h"

#include "kit/base/format.h"

namespace tolvane::DiskSpaceCheck {

Verdict assess(std::int64_t freeBytes) {
  if (freeBytes < stopBelowBytes) return {std::string(stoppedMessage), true};
  if (freeBytes < warnBelowBytes) {
    return {"Running low on disk space \u2014 " + formatByteCount(freeBytes) + " left.", false};
  }
  return {};
}

}  // namespace tolvane::DiskSpaceCheck
