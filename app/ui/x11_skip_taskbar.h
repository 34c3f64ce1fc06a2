#pragma once

class QWindow;

namespace tolvane {

// Keeps `window` out of the taskbar (and the window switcher) or lets it back in, through
// the window manager's _NET_WM_STATE_SKIP_TASKBAR. A mapped window asks the window manager
// with a client message to the root window; an unmapped one carries the state in its own
// property, which the window manager reads when it is mapped. Returns false where there is
// no X11 display (Wayland, offscreen), where the state cannot be expressed.
bool setSkipTaskbar(QWindow& window, bool skip);

}  // namespace tolvane
