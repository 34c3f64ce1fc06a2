#pragma once

#include <initializer_list>

class QWindow;

namespace tolvane::x11_window_state {

// Turns states of the window manager's _NET_WM_STATE on or off for `window` (names such
// as "_NET_WM_STATE_SKIP_TASKBAR"). A mapped window asks the window manager with client
// messages to the root window, since the manager owns the property then; an unmapped one
// carries the states in its own property, which the manager reads when it maps it.
// Returns false where there is no X11 display (Wayland, offscreen).
bool setStates(QWindow& window, std::initializer_list<const char*> states, bool on);

}  // namespace tolvane::x11_window_state
