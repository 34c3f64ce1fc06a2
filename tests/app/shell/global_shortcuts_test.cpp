#include "app/shell/global_shortcuts.h"
#include "app/shell/shortcut_notice.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <utility>
#include <memory>
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
int countError(Display*, XErrorEvent*) { return ++errorsSeen, 0; }

// A second client of the same server presses keys through XTest the way a keyboard would,
// and grabs keys the way another program would.
class GlobalShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::application();
    xvfb_ = std::make_unique<XvfbServer>(640, 480);
    display_ = std::make_unique<ScopedEnv>("DISPLAY", xvfb_->displayName().c_str());
    other_ = XOpenDisplay(xvfb_->displayName().c_str());
    ASSERT_NE(other_, nullptr);
    XSetErrorHandler(&countError);
  }
  void TearDown() override {
    if (other_) XCloseDisplay(other_);
  }

  KeyCode code(KeySym key) const { return XKeysymToKeycode(other_, key); }
  void press(KeySym key, bool down) const {
    XTestFakeKeyEvent(other_, code(key), down ? True : False, CurrentTime);
    XSync(other_, False);
  }
  // Presses the keys in order, then releases them in reverse, like a chord typed by hand.
  void chord(std::initializer_list<KeySym> keys) const {
    for (KeySym key : keys) press(key, true);
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) press(*key, false);
  }
  // True when the server let the other client grab the key with exactly `modifiers`.
  bool grab(KeySym key, unsigned int modifiers) const {
    errorsSeen = 0;
    XGrabKey(other_, code(key), modifiers, DefaultRootWindow(other_), False, GrabModeAsync, GrabModeAsync);
    XSync(other_, False);
    return errorsSeen == 0;
  }

  void listen(GlobalShortcuts& shortcuts) {
    QObject::connect(&shortcuts, &GlobalShortcuts::pressed, [this](ShortcutKey key) { pressed_.push_back(key); });
  }
  bool waitForPresses(std::size_t count) {
    return testing::processEventsUntil([&] { return pressed_.size() >= count; });
  }
  bool logged(MemoryLogSink& memory, const std::string& words) {
    return testing::processEventsUntil([&] {
      const auto lines = memory.messages("shortcuts");
      return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.find(words) != std::string::npos; });
    });
  }

  // The tests run as if on an X11 desktop, whatever session runs them.
  ScopedEnv noWayland_{"WAYLAND_DISPLAY", nullptr};
  ScopedEnv x11Session_{"XDG_SESSION_TYPE", "x11"};
  std::unique_ptr<XvfbServer> xvfb_;
  std::unique_ptr<ScopedEnv> display_;
  Display* other_ = nullptr;
  std::vector<ShortcutKey> pressed_;
};

using K = ShortcutKey;

TEST_F(GlobalShortcutsTest, OnlyExactlyCtrlAltWithTheKeyIsAPressWhateverTheLockKeys) {
  auto memory = MemoryLogSink::attach();
  GlobalShortcuts shortcuts;
  listen(shortcuts);
  EXPECT_EQ(shortcuts.install(), QStringList());
  chord({XK_Control_L, XK_Alt_L, XK_r});
  ASSERT_TRUE(waitForPresses(1));

  // Shift or Super added, or Alt missing: not ours. Each D after one of them shows the
  // press before it was already read.
  chord({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_r});
  chord({XK_Control_L, XK_Alt_L, XK_d});
  chord({XK_Control_L, XK_Alt_L, XK_Super_L, XK_r});
  chord({XK_Control_L, XK_Alt_L, XK_d});
  chord({XK_Control_L, XK_r});
  chord({XK_Control_L, XK_Alt_L, XK_d});
  ASSERT_TRUE(waitForPresses(4));

  // A held shortcut is one press, not one per repeat: the server repeats after 10 ms,
  // every 5 ms, and D is held far longer. (Were the server slower, no repeat would come
  // and this would pass without proving much; it cannot fail on a slow machine.)
  XkbSetAutoRepeatRate(other_, XkbUseCoreKbd, 10, 5);
  press(XK_Control_L, true);
  press(XK_Alt_L, true);
  press(XK_d, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  press(XK_d, false);
  press(XK_Alt_L, false);
  press(XK_Control_L, false);

  // Caps Lock on; Shift still makes a press not ours.
  chord({XK_Caps_Lock});
  chord({XK_Control_L, XK_Alt_L, XK_d});
  chord({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_r});
  // Num Lock moves from the usual Mod2 to Mod3 while the grabs are in place (as a layout
  // set after login would), then is switched on.
  XModifierKeymap* map = XGetModifierMapping(other_);
  map = XDeleteModifiermapEntry(map, code(XK_Num_Lock), Mod2MapIndex);
  map = XInsertModifiermapEntry(map, code(XK_Num_Lock), Mod3MapIndex);
  ASSERT_EQ(XSetModifierMapping(other_, map), MappingSuccess);
  XFreeModifiermap(map);
  ASSERT_TRUE(logged(*memory, "grabbed again"));
  chord({XK_Num_Lock});
  chord({XK_Control_L, XK_Alt_L, XK_r});
  ASSERT_TRUE(waitForPresses(7));
  EXPECT_EQ(pressed_, std::vector<K>({K::record, K::draw, K::draw, K::draw, K::draw, K::draw, K::record}));
}

TEST_F(GlobalShortcutsTest, AShortcutAnotherProgramHoldsIsReportedAndLeftAlone) {
  ASSERT_TRUE(grab(XK_d, ControlMask | Mod1Mask));
  auto memory = MemoryLogSink::attach();
  auto shortcuts = std::make_unique<GlobalShortcuts>();
  listen(*shortcuts);
  EXPECT_EQ(shortcuts->install(), QStringList({"Ctrl+Alt+D"}));
  const auto lines = memory->messages("shortcuts");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Ctrl+Alt+D is held by another program"), std::string::npos) << lines[0];
  // The other lock combinations of D were given back, not kept as half a shortcut.
  EXPECT_TRUE(grab(XK_d, ControlMask | Mod1Mask | Mod2Mask));
  EXPECT_TRUE(grab(XK_d, ControlMask | Mod1Mask | LockMask));
  // R is ours, and works.
  EXPECT_FALSE(grab(XK_r, ControlMask | Mod1Mask));
  chord({XK_Control_L, XK_Alt_L, XK_r});
  ASSERT_TRUE(waitForPresses(1));
  EXPECT_EQ(pressed_, std::vector<K>({K::record}));
  // Gone, it leaves R to others.
  shortcuts.reset();
  EXPECT_TRUE(grab(XK_r, ControlMask | Mod1Mask | Mod2Mask | LockMask));
}

TEST_F(GlobalShortcutsTest, WithoutAnX11SessionNothingIsGrabbedAndAServerGoneStopsOnlyTheShortcuts) {
  {
    ScopedEnv nowhere("DISPLAY", XvfbServer::unusedDisplayName().c_str());
    EXPECT_EQ(GlobalShortcuts().install(), QStringList());
  }
  {
    // Under Wayland an X connection only reaches X programs' windows: no grabs.
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    GlobalShortcuts shortcuts;
    EXPECT_EQ(shortcuts.install(), QStringList());
    EXPECT_TRUE(grab(XK_r, ControlMask | Mod1Mask));
  }
  auto memory = MemoryLogSink::attach();
  GlobalShortcuts shortcuts;
  ASSERT_EQ(shortcuts.install(), QStringList({"Ctrl+Alt+R"})) << "the other client's grab is still there";
  XCloseDisplay(std::exchange(other_, nullptr));
  xvfb_->stop();
  EXPECT_TRUE(logged(*memory, "lost the connection"));
}

TEST(ShortcutNoticeTest, NamesEachUnavailableShortcutAndTheCommandsToBindInstead) {
  EXPECT_EQ(shortcutNoticeText({}), QString());

  EXPECT_EQ(shortcutNoticeText({"Ctrl+Alt+D"}),
            "Ctrl+Alt+D is used by another program. Instead, bind “tolvane --action toggle-drawing” to a key of "
            "your choice in your desktop's keyboard settings.");
  // Both, named once each even when reported twice; R both starts and stops, which takes
  // two commands.
  EXPECT_EQ(shortcutNoticeText({"Ctrl+Alt+R", "Ctrl+Alt+D", "Ctrl+Alt+R"}),
            "Ctrl+Alt+R and Ctrl+Alt+D are used by another program. Instead, bind "
            "“tolvane --action start-recording”, “tolvane --action stop-recording” and "
            "“tolvane --action toggle-drawing” to keys of your choice in your desktop's keyboard settings.");
}

}  // namespace
}  // namespace tolvane
