#include "app/ui/x11_skip_taskbar.h"

#include "app/ui/x11_window_state.h"

namespace tolvane {

bool setSkipTaskbar(QWindow& window, bool skip) {
  return x11_window_state::setStates(window, {"_NET_WM_STATE_SKIP_TASKBAR"}, skip);
}

}  // namespace tolvane
