#include "app/shell/global_shortcuts.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "app/shell/shortcut_notice.h"
#include "kit/base/log.h"

// Last: Xlib's macros (Bool, Status, None, KeyPress…) would rewrite other headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace tolvane {
namespace {

const Logger& shortcutsLog() {
  static const Logger log("shortcuts");
  return log;
}

// The eight core modifier bits (Shift … Mod5); the rest of an event's state is pointer
// buttons and the keyboard group, which say nothing about the shortcut.
constexpr unsigned int kCoreModifiers = ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask |
                                        Mod4Mask | Mod5Mask;

bool isWaylandSession() {
  return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

void logFallbackOnce(const char* reason) {
  static bool logged = false;
  if (logged) return;
  logged = true;
  shortcutsLog().info(
      "{}: Ctrl+Alt+R and Ctrl+Alt+D are not available; bind `tolvane --action start-recording`, "
      "`tolvane --action stop-recording` and `tolvane --action toggle-drawing` in the desktop's keyboard "
      "settings instead",
      reason);
}

// The modifier bit a keysym sits on. Xkb answers for the live keymap; servers without it
// still have the core modifier mapping.
unsigned int modifierOfKeysym(Display* display, KeySym keysym) {
  if (const unsigned int mask = XkbKeysymToModifiers(display, keysym); mask != 0) return mask & kCoreModifiers;
  const KeyCode keycode = XKeysymToKeycode(display, keysym);
  if (keycode == 0) return 0;
  XModifierKeymap* map = XGetModifierMapping(display);
  if (map == nullptr) return 0;
  unsigned int mask = 0;
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      if (map->modifiermap[modifier * map->max_keypermod + i] == keycode) mask |= 1u << modifier;
    }
  }
  XFreeModifiermap(map);
  return mask;
}

// Collects the errors of one display's requests while alive, so that a grab refused
// with BadAccess is a result instead of Xlib's default handler ending the process. The
// error handler is process-wide: errors of other connections go on to the one before.
class GrabErrorTrap {
 public:
  explicit GrabErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);  // earlier requests' errors are not ours to collect
    active_ = this;
    previous_ = XSetErrorHandler(&GrabErrorTrap::handle);
  }
  ~GrabErrorTrap() {
    if (active_ == this) finish();
  }
  GrabErrorTrap(const GrabErrorTrap&) = delete;
  GrabErrorTrap& operator=(const GrabErrorTrap&) = delete;

  // Waits for the server to answer everything sent so far and restores the handler.
  void finish() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
    active_ = nullptr;
  }

  bool failed(unsigned long serial) const {
    for (const unsigned long refused : refusedSerials_) {
      if (refused == serial) return true;
    }
    return false;
  }

 private:
  static int handle(Display* display, XErrorEvent* event) {
    GrabErrorTrap* trap = active_;
    if (trap != nullptr && display == trap->display_) {
      trap->refusedSerials_.push_back(event->serial);
      return 0;
    }
    if (trap != nullptr && trap->previous_ != nullptr) return trap->previous_(display, event);
    return 0;
  }

  static inline GrabErrorTrap* active_ = nullptr;
  Display* display_;
  XErrorHandler previous_ = nullptr;
  std::vector<unsigned long> refusedSerials_;
};

// Xlib's handler for a broken connection ends the process. The one put in its place lets
// the shortcuts' own connection break alone (its exit handler only marks it lost); every
// other connection still gets the handler there was before.
std::vector<Display*>& survivableDisplays() {
  static std::vector<Display*> displays;
  return displays;
}
XIOErrorHandler previousIOErrorHandler = nullptr;

int ioErrorUnlessSurvivable(Display* display) {
  const auto& survivable = survivableDisplays();
  if (std::find(survivable.begin(), survivable.end(), display) != survivable.end()) return 0;
  return previousIOErrorHandler != nullptr ? previousIOErrorHandler(display) : 0;
}

void letConnectionBreak(Display* display) {
  static const bool installed = [] {
    previousIOErrorHandler = XSetIOErrorHandler(&ioErrorUnlessSurvivable);
    return true;
  }();
  (void)installed;
  survivableDisplays().push_back(display);
}

void forgetConnection(Display* display) { std::erase(survivableDisplays(), display); }

// A receiver may delete the shortcuts object; the presses after that go nowhere.
void reportPresses(GlobalShortcuts* shortcuts, const std::vector<ShortcutKey>& keys) {
  const QPointer<GlobalShortcuts> alive(shortcuts);
  for (const ShortcutKey key : keys) {
    if (!alive) return;
    emit shortcuts->pressed(key);
  }
}

}  // namespace

struct GlobalShortcuts::X11Grab {
  struct Key {
    ShortcutKey key;
    KeySym keysym;
    KeyCode keycode = 0;
    bool grabbed = false;
    // Down since a press we reported: the key's repeats while held are not new presses.
    bool held = false;
  };

  Display* display = nullptr;
  Window root = 0;
  unsigned int wanted = 0;       // Ctrl and Alt's bits
  unsigned int lockMasks = 0;    // Caps, Num and Scroll Lock's bits, whatever their state
  std::vector<unsigned int> lockCombinations;
  std::array<Key, 2> keys{Key{ShortcutKey::record, XK_r}, Key{ShortcutKey::draw, XK_d}};
  std::unique_ptr<QSocketNotifier> notifier;
  bool connectionLost = false;

  ~X11Grab() {
    notifier.reset();
    if (display == nullptr) return;
    if (!connectionLost) {
      for (const Key& key : keys) {
        if (key.grabbed) ungrab(key);
      }
      XFlush(display);
    }
    XCloseDisplay(display);
    forgetConnection(display);
  }

  void ungrab(const Key& key) const {
    if (key.keycode == 0) return;
    for (const unsigned int locks : lockCombinations) XUngrabKey(display, key.keycode, wanted | locks, root);
  }

  void readModifiers() {
    const unsigned int alt = modifierOfKeysym(display, XK_Alt_L);
    wanted = ControlMask | (alt != 0 ? alt : Mod1Mask);
    lockMasks = LockMask | modifierOfKeysym(display, XK_Num_Lock) | modifierOfKeysym(display, XK_Scroll_Lock);
    lockMasks &= ~wanted;  // a keymap that puts a lock on Ctrl or Alt's bit must not hide them

    // Every subset of the lock bits, so that the grab holds whichever locks are on.
    std::vector<unsigned int> bits;
    for (unsigned int bit = 1; bit <= Mod5Mask; bit <<= 1) {
      if ((lockMasks & bit) != 0) bits.push_back(bit);
    }
    lockCombinations.clear();
    for (unsigned int subset = 0; subset < (1u << bits.size()); ++subset) {
      unsigned int combination = 0;
      for (std::size_t i = 0; i < bits.size(); ++i) {
        if ((subset & (1u << i)) != 0) combination |= bits[i];
      }
      lockCombinations.push_back(combination);
    }
  }

  // Grabs every key under every lock combination; a key refused under any of them is
  // released under all the others too (half a shortcut that works only with Num Lock on
  // would puzzle more than none), and answered as unavailable.
  QStringList grabAll() {
    QStringList unavailable;
    std::array<std::vector<unsigned long>, 2> serials;
    GrabErrorTrap trap(display);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      Key& key = keys[k];
      key.keycode = XKeysymToKeycode(display, key.keysym);
      if (key.keycode == 0) continue;
      for (const unsigned int locks : lockCombinations) {
        serials[k].push_back(NextRequest(display));
        XGrabKey(display, key.keycode, wanted | locks, root, False, GrabModeAsync, GrabModeAsync);
      }
    }
    trap.finish();

    GrabErrorTrap ungrabTrap(display);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      Key& key = keys[k];
      const QString name = shortcutName(key.key);
      if (key.keycode == 0) {
        shortcutsLog().warning("global shortcut {} is unavailable: the keyboard map has no such key",
                               name.toStdString());
        unavailable << name;
        continue;
      }
      bool refused = false;
      for (const unsigned long serial : serials[k]) refused = refused || trap.failed(serial);
      if (!refused) {
        key.grabbed = true;
        continue;
      }
      ungrab(key);
      shortcutsLog().warning("global shortcut {} is held by another program; bind `{}` in the desktop's keyboard "
                             "settings instead",
                             name.toStdString(), shortcutFallbackCommands(key.key).join("` and `").toStdString());
      unavailable << name;
    }
    ungrabTrap.finish();
    return unavailable;
  }

  // Reads everything the server sent; answers the shortcuts pressed, for the caller to
  // report once nothing here is touched any more (a receiver may well end us).
  std::vector<ShortcutKey> drain() {
    std::vector<ShortcutKey> pressed;
    bool mappingChanged = false;
    while (!connectionLost && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == KeyPress) {
        if (const auto key = handlePress(event.xkey)) pressed.push_back(*key);
      }
      if (event.type == KeyRelease) handleRelease(event.xkey);
      if (event.type == MappingNotify && event.xmapping.request != MappingPointer) {
        XRefreshKeyboardMapping(&event.xmapping);
        mappingChanged = true;
      }
    }
    if (mappingChanged && !connectionLost) grabAgain();
    if (connectionLost && notifier) notifier->setEnabled(false);
    return pressed;
  }

  // A new keyboard map (a layout set after we started, Num Lock moved to another
  // modifier) can move the keys and the lock bits the grabs were made for. The server
  // also says the map changed whenever keys come from another keyboard, mostly with the
  // same map: the grabs stay as they are then.
  void grabAgain() {
    const unsigned int oldWanted = wanted;
    const std::vector<unsigned int> oldCombinations = lockCombinations;
    readModifiers();
    bool moved = wanted != oldWanted || lockCombinations != oldCombinations;
    for (const Key& key : keys) moved = moved || XKeysymToKeycode(display, key.keysym) != key.keycode;
    if (!moved) return;

    for (Key& key : keys) {
      if (key.grabbed) {
        for (const unsigned int locks : oldCombinations) XUngrabKey(display, key.keycode, oldWanted | locks, root);
      }
      key.grabbed = false;
      key.held = false;
    }
    const QStringList unavailable = grabAll();
    shortcutsLog().info("keyboard map changed; global shortcuts grabbed again{}",
                        unavailable.isEmpty() ? std::string() : " except " + unavailable.join(", ").toStdString());
  }

  std::optional<ShortcutKey> handlePress(const XKeyEvent& event) {
    Key* key = keyWithCode(event.keycode);
    if (key == nullptr) return std::nullopt;
    const bool repeat = key->held;
    key->held = true;
    if (repeat) return std::nullopt;
    // Exactly Ctrl+Alt: Shift, Super or any other modifier held with them makes the press
    // someone else's.
    if ((event.state & kCoreModifiers & ~lockMasks) != wanted) return std::nullopt;
    return key->key;
  }

  void handleRelease(const XKeyEvent& event) {
    if (Key* key = keyWithCode(event.keycode)) key->held = false;
  }

  Key* keyWithCode(unsigned int keycode) {
    for (Key& key : keys) {
      if (key.grabbed && key.keycode == keycode) return &key;
    }
    return nullptr;
  }

  // Xlib would end the process when the server goes away; the shortcuts only stop.
  static void connectionBroke(Display*, void* self) {
    auto* grab = static_cast<X11Grab*>(self);
    if (grab->connectionLost) return;
    grab->connectionLost = true;
    shortcutsLog().warning("lost the connection to the X server; the global shortcuts no longer work");
  }
};

GlobalShortcuts::GlobalShortcuts(QObject* parent) : QObject(parent) {}

GlobalShortcuts::~GlobalShortcuts() = default;

QStringList GlobalShortcuts::install() {
  grab_.reset();
  if (isWaylandSession()) {
    logFallbackOnce("this is a Wayland session, where programs cannot take keys from others");
    return {};
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    logFallbackOnce("no X display");
    return {};
  }

  auto grab = std::make_unique<X11Grab>();
  grab->display = display;
  letConnectionBreak(display);
  XSetIOErrorExitHandler(display, &X11Grab::connectionBroke, grab.get());
  grab->root = DefaultRootWindow(display);
  // A held shortcut repeats as presses alone, without a release before each.
  Bool repeatDetectable = False;
  XkbSetDetectableAutoRepeat(display, True, &repeatDetectable);
  grab->readModifiers();
  const QStringList unavailable = grab->grabAll();

  grab->notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
  X11Grab* raw = grab.get();
  connect(grab->notifier.get(), &QSocketNotifier::activated, this, [this, raw] { reportPresses(this, raw->drain()); });
  grab_ = std::move(grab);
  // Events Xlib already read while waiting for the grabs' answers never wake the
  // notifier; hand them over from the event loop.
  QTimer::singleShot(0, this, [this, raw] {
    if (grab_.get() == raw) reportPresses(this, raw->drain());
  });
  return unavailable;
}

}  // namespace tolvane
