#include "app/shell/shortcut_notice.h"

#include <gtest/gtest.h>

#include "tests/app/core/core_test_support.h"

namespace tolvane {
namespace {

TEST(ShortcutNoticeTest, NamesEachUnavailableShortcutAndTheCommandsToBindInstead) {
  EXPECT_EQ(shortcutNoticeText({}), QString());

  EXPECT_EQ(shortcutNoticeText({"Ctrl+Alt+D"}),
            "Ctrl+Alt+D is used by another program. Instead, bind “tolvane --action toggle-drawing” to a key of "
            "your choice in your desktop's keyboard settings.");
  // R both starts and stops, which takes two commands.
  EXPECT_EQ(shortcutNoticeText({"Ctrl+Alt+R"}),
            "Ctrl+Alt+R is used by another program. Instead, bind “tolvane --action start-recording” and "
            "“tolvane --action stop-recording” to keys of your choice in your desktop's keyboard settings.");
  // Both, named once each even when reported twice.
  EXPECT_EQ(shortcutNoticeText({"Ctrl+Alt+R", "Ctrl+Alt+D", "Ctrl+Alt+R"}),
            "Ctrl+Alt+R and Ctrl+Alt+D are used by another program. Instead, bind "
            "“tolvane --action start-recording”, “tolvane --action stop-recording” and "
            "“tolvane --action toggle-drawing” to keys of your choice in your desktop's keyboard settings.");

  // The names the grab reports are the ones the notice knows.
  EXPECT_EQ(shortcutName(ShortcutKey::record), "Ctrl+Alt+R");
  EXPECT_EQ(shortcutName(ShortcutKey::draw), "Ctrl+Alt+D");
}

}  // namespace
}  // namespace tolvane
