#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>

class QWindow;

namespace tolvane::x11_panel_support {

// What the floating panels need from the X server beyond Qt's window flags. Every call
// answers "nothing" (false, none) where there is no X11 display (Wayland, offscreen).

// Whether a compositing manager runs on the default screen: someone owns the
// _NET_WM_CM_S<screen> selection. The Composite extension alone says nothing; without a
// manager there is no transparency and no click-through.
bool hasCompositingManager();

// Marks a panel that is not mapped yet for the window manager: on every desktop
// (_NET_WM_DESKTOP 0xFFFFFFFF and sticky), kept above normal windows, and out of the
// taskbar and the pager. The window manager reads the properties when it maps the window.
// Also marks it (_TOLVANE_CAPTURE_EXCLUDED) for display recordings to leave out.
bool markAsPanel(QWindow& window);

// Tells display recordings which parts of a marked panel show anything, in the window's
// own pixels (_TOLVANE_CAPTURE_EXCLUDED_AREAS, x, y, width, height each); an empty list
// says it shows nothing. They then rebuild only those parts from the windows below.
bool publishShownAreas(QWindow& window, const QList<QRect>& areas);

// The frame of a top-level window on the desktop, in root-window pixels.
std::optional<QRect> windowFrame(std::uint32_t windowID);

// The name of an atom: the X server names its monitors with atoms, and a display target
// keeps its monitor's atom as its identifier.
QString atomName(std::uint32_t atom);

}  // namespace tolvane::x11_panel_support
