#include "app/capture/sources/synthetic_sources.h"

#include <cstdlib>

#include "app/capture/sources/capture_source_error.h"

namespace tolvane::SyntheticSources {

bool enabled() {
  const char* value = std::getenv("TOLVANE_TEST_SOURCES");
  return value != nullptr && std::string_view(value) == "1";
}

void requireEnabled() {
  if (enabled()) return;
  throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable,
                           "Tolvane's synthetic test sources are switched off; set TOLVANE_TEST_SOURCES=1 to use them.");
}

CaptureTarget screenTarget() { return CaptureTarget::display(screenDisplayID, "Test scene", screenWidth, screenHeight); }

bool isSyntheticScreen(const CaptureTarget& target) {
  return target.isDisplay() && target.asDisplay().displayID == screenDisplayID;
}

}  // namespace tolvane::SyntheticSources
