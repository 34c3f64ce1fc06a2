#include "app/shell/global_shortcuts.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "kit/base/memory_log_sink.h"
#include "tests/app/core/core_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

// Last: Xlib's macros would rewrite the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace tolvane {

// Failure messages name the keys.
inline void PrintTo(ShortcutKey key, std::ostream* out) { *out << (key == ShortcutKey::record ? "R" : "D"); }

namespace {

using testing::ScopedEnv;
using testing::XvfbServer;

// Errors of the test's own connection are counted instead of ending the program.
int errorsSeen = 0;
int countError(Display*, XErrorEvent*) {
  ++errorsSeen;
  return 0;
}

// A second client of the same server: it presses keys through XTest the way a keyboard
// would, and grabs keys the way another program would.
class OtherClient {
 public:
  explicit OtherClient(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) {
    previous_ = XSetErrorHandler(&countError);
  }
  ~OtherClient() {
    if (display_ != nullptr) XCloseDisplay(display_);
    XSetErrorHandler(previous_);
  }
  OtherClient(const OtherClient&) = delete;
  OtherClient& operator=(const OtherClient&) = delete;

  Display* display() const { return display_; }
  KeyCode code(KeySym keysym) const { return XKeysymToKeycode(display_, keysym); }

  // Presses the keys in order, then releases them in reverse, like a chord typed by hand.
  void chord(std::initializer_list<KeySym> keys) const {
    for (KeySym key : keys) XTestFakeKeyEvent(display_, code(key), True, CurrentTime);
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
      XTestFakeKeyEvent(display_, code(*key), False, CurrentTime);
    }
    XSync(display_, False);
  }
  void press(KeySym key, bool down) const {
    XTestFakeKeyEvent(display_, code(key), down ? True : False, CurrentTime);
    XSync(display_, False);
  }

  // True when the server let this client grab the key with exactly `modifiers`.
  bool grab(KeySym key, unsigned int modifiers) const {
    errorsSeen = 0;
    XGrabKey(display_, code(key), modifiers, DefaultRootWindow(display_), False, GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
    return errorsSeen == 0;
  }

 private:
  Display* display_;
  XErrorHandler previous_ = nullptr;
};

class GlobalShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::application();
    xvfb_ = std::make_unique<XvfbServer>(640, 480);
    display_ = std::make_unique<ScopedEnv>("DISPLAY", xvfb_->displayName().c_str());
    other_ = std::make_unique<OtherClient>(xvfb_->displayName());
    ASSERT_NE(other_->display(), nullptr);
  }

  void listen(GlobalShortcuts& shortcuts) {
    QObject::connect(&shortcuts, &GlobalShortcuts::pressed, [this](ShortcutKey key) { pressed_.push_back(key); });
  }
  bool waitForPresses(std::size_t count) {
    return testing::processEventsUntil([&] { return pressed_.size() >= count; });
  }

  // The tests run as if on an X11 desktop, whatever session runs them.
  ScopedEnv noWayland_{"WAYLAND_DISPLAY", nullptr};
  ScopedEnv x11Session_{"XDG_SESSION_TYPE", "x11"};
  std::unique_ptr<XvfbServer> xvfb_;
  std::unique_ptr<ScopedEnv> display_;
  std::unique_ptr<OtherClient> other_;
  std::vector<ShortcutKey> pressed_;
};

using K = ShortcutKey;

TEST_F(GlobalShortcutsTest, OnlyExactlyCtrlAltWithTheKeyIsAPress) {
  GlobalShortcuts shortcuts;
  listen(shortcuts);
  EXPECT_EQ(shortcuts.install(), QStringList());

  other_->chord({XK_Control_L, XK_Alt_L, XK_r});
  ASSERT_TRUE(waitForPresses(1));
  EXPECT_EQ(pressed_, std::vector<K>({K::record}));

  // Shift or Super added, or Alt missing: not ours. Each D after one of them shows the
  // press before it was already read.
  other_->chord({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_r});
  other_->chord({XK_Control_L, XK_Alt_L, XK_d});
  other_->chord({XK_Control_L, XK_Alt_L, XK_Super_L, XK_r});
  other_->chord({XK_Control_L, XK_Alt_L, XK_d});
  other_->chord({XK_Control_L, XK_r});
  other_->chord({XK_Control_L, XK_Alt_L, XK_d});
  ASSERT_TRUE(waitForPresses(4));
  EXPECT_EQ(pressed_, std::vector<K>({K::record, K::draw, K::draw, K::draw}));
}

TEST_F(GlobalShortcutsTest, AHeldShortcutIsOnePressNotOnePerRepeat) {
  GlobalShortcuts shortcuts;
  listen(shortcuts);
  ASSERT_EQ(shortcuts.install(), QStringList());

  // The server repeats a held key after 10 ms, every 5 ms; D is held far longer. (Were
  // the server slower, no repeat would come and the case would pass without proving much;
  // it cannot fail on a slow machine.)
  XkbSetAutoRepeatRate(other_->display(), XkbUseCoreKbd, 10, 5);
  other_->press(XK_Control_L, true);
  other_->press(XK_Alt_L, true);
  other_->press(XK_d, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  other_->press(XK_d, false);
  other_->press(XK_r, true);
  other_->press(XK_r, false);
  other_->press(XK_Alt_L, false);
  other_->press(XK_Control_L, false);
  ASSERT_TRUE(waitForPresses(2));
  EXPECT_EQ(pressed_, std::vector<K>({K::draw, K::record}));
}

TEST_F(GlobalShortcutsTest, LockKeysDoNotHideTheShortcutsWhateverModifierTheyAreOn) {
  auto memory = MemoryLogSink::attach();
  GlobalShortcuts shortcuts;
  listen(shortcuts);
  ASSERT_EQ(shortcuts.install(), QStringList());

  other_->chord({XK_Caps_Lock});
  other_->chord({XK_Control_L, XK_Alt_L, XK_d});
  other_->chord({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_r});  // Shift still makes it not ours
  ASSERT_TRUE(waitForPresses(1));
  memory->clear();

  // Num Lock moves from the usual Mod2 to Mod3 while the grabs are in place (as a layout
  // set after login would), then is switched on.
  XModifierKeymap* map = XGetModifierMapping(other_->display());
  map = XDeleteModifiermapEntry(map, other_->code(XK_Num_Lock), Mod2MapIndex);
  map = XInsertModifiermapEntry(map, other_->code(XK_Num_Lock), Mod3MapIndex);
  ASSERT_EQ(XSetModifierMapping(other_->display(), map), MappingSuccess);
  XFreeModifiermap(map);
  ASSERT_TRUE(testing::processEventsUntil([&] {
    for (const auto& line : memory->messages("shortcuts")) {
      if (line.find("grabbed again") != std::string::npos) return true;
    }
    return false;
  }));

  other_->chord({XK_Num_Lock});
  other_->chord({XK_Control_L, XK_Alt_L, XK_r});
  ASSERT_TRUE(waitForPresses(2));
  EXPECT_EQ(pressed_, std::vector<K>({K::draw, K::record}));
}

TEST_F(GlobalShortcutsTest, AShortcutAnotherProgramHoldsIsReportedAndLeftAlone) {
  ASSERT_TRUE(other_->grab(XK_d, ControlMask | Mod1Mask));
  auto memory = MemoryLogSink::attach();
  auto shortcuts = std::make_unique<GlobalShortcuts>();
  listen(*shortcuts);
  EXPECT_EQ(shortcuts->install(), QStringList({"Ctrl+Alt+D"}));
  const auto lines = memory->messages("shortcuts");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Ctrl+Alt+D is held by another program"), std::string::npos) << lines[0];

  // The other lock combinations of D were given back, not kept as half a shortcut.
  EXPECT_TRUE(other_->grab(XK_d, ControlMask | Mod1Mask | Mod2Mask));
  EXPECT_TRUE(other_->grab(XK_d, ControlMask | Mod1Mask | LockMask));

  // R is ours, and works.
  EXPECT_FALSE(other_->grab(XK_r, ControlMask | Mod1Mask));
  other_->chord({XK_Control_L, XK_Alt_L, XK_r});
  ASSERT_TRUE(waitForPresses(1));
  EXPECT_EQ(pressed_, std::vector<K>({K::record}));

  // Gone, it leaves R to others.
  shortcuts.reset();
  EXPECT_TRUE(other_->grab(XK_r, ControlMask | Mod1Mask | Mod2Mask | LockMask));
}

TEST_F(GlobalShortcutsTest, WithoutAnX11SessionNothingIsGrabbed) {
  {
    ScopedEnv nowhere("DISPLAY", XvfbServer::unusedDisplayName().c_str());
    GlobalShortcuts shortcuts;
    EXPECT_EQ(shortcuts.install(), QStringList());
  }
  {
    // Under Wayland an X connection only reaches X programs' windows: no grabs.
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    GlobalShortcuts shortcuts;
    EXPECT_EQ(shortcuts.install(), QStringList());
    EXPECT_TRUE(other_->grab(XK_r, ControlMask | Mod1Mask));
  }
}

TEST_F(GlobalShortcutsTest, TheServerGoingAwayStopsTheShortcutsNotTheProgram) {
  auto memory = MemoryLogSink::attach();
  GlobalShortcuts shortcuts;
  ASSERT_EQ(shortcuts.install(), QStringList());
  other_.reset();
  xvfb_->stop();
  EXPECT_TRUE(testing::processEventsUntil([&] {
    for (const auto& line : memory->messages("shortcuts")) {
      if (line.find("lost the connection") != std::string::npos) return true;
    }
    return false;
  }));
}

}  // namespace
}  // namespace tolvane
