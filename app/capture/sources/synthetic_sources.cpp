#include "app/capture/sources/synthetic_sources.h"

namespace tolvane::SyntheticSources {

CaptureTarget screenTarget() { return CaptureTarget::display(screenDisplayID, "Test scene", screenWidth, screenHeight); }

bool isSyntheticScreen(const CaptureTarget& target) {
  return target.isDisplay() && target.asDisplay().displayID == screenDisplayID;
}

}  // namespace tolvane::SyntheticSources
