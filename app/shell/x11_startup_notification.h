#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QWindow;

namespace tolvane {

// A launcher that starts or activates Tolvane gives the launch an id and shows feedback
// (a busy cursor, a "starting" entry in the taskbar) until the program says it is up. A
// process that starts us has Qt end that feedback when our first window maps; an
// activation over D-Bus reaches the instance that already runs, which ends it here.
// The id also carries the time of the click that caused the launch: handing it to the
// window manager is what lets it raise our window past its focus-stealing prevention.
namespace x11_startup {

// The click's X server time from an id that ends in "_TIME<digits>", else 0.
unsigned long timestampOf(QByteArrayView startupId);

// The "remove" message that ends the launch's feedback, with the id quoted.
QByteArray removeMessage(QByteArrayView startupId);

// Broadcasts removeMessage() to the X clients that follow launches. False without an X11
// display or an id.
bool endFeedback(QByteArrayView startupId);

// Asks the window manager to activate `window` on behalf of the launch: the launch's own
// time in _NET_ACTIVE_WINDOW rather than our last input's. False without an X11 display,
// a visible window or a time in the id.
bool activate(QWindow& window, QByteArrayView startupId);

}  // namespace x11_startup
}  // namespace tolvane
