#include <gtest/gtest.h>

#include "app/shell/app_action.h"
#include "app/shell/shortcut_command.h"


namespace tolvane {
namespace {

TEST(ShellRulesTest, ActionNamesRoundTripAndOnlyTheDocumentedOnesAreExported) {
  EXPECT_EQ(exportedActionNames(),
            QStringList({"start-recording", "stop-recording", "toggle-pause", "toggle-drawing", "show-record",
                         "show-library", "show-local", "check-for-updates", "sign-in", "sign-out", "quit"}));
  for (int i = 0; i <= static_cast<int>(AppAction::copyLastLink); ++i) {
    auto action = static_cast<AppAction>(i);
    EXPECT_EQ(appActionFromName(appActionName(action)), action) << i;
  }
  EXPECT_FALSE(appActionFromName("format-disk"));
  EXPECT_FALSE(isExportedAction(AppAction::about));
}

TEST(ShellRulesTest, ShortcutsFollowThePhase) {
  using K = ShortcutKey;
  using C = ShortcutCommand;
  EXPECT_EQ(shortcutCommand(K::record, RecordingPhase::idle()), C::startCountdown);
  // The countdown and the finish ignore R: startCountdown itself does nothing there.
  EXPECT_EQ(shortcutCommand(K::record, RecordingPhase::countdown(2)), C::startCountdown);
  EXPECT_EQ(shortcutCommand(K::record, RecordingPhase::finishing()), C::startCountdown);
  EXPECT_EQ(shortcutCommand(K::record, RecordingPhase::recording()), C::stopRecording);
  EXPECT_EQ(shortcutCommand(K::record, RecordingPhase::paused()), C::stopRecording);
  EXPECT_EQ(shortcutCommand(K::draw, RecordingPhase::idle()), C::none);
  EXPECT_EQ(shortcutCommand(K::draw, RecordingPhase::countdown(1)), C::none);
  EXPECT_EQ(shortcutCommand(K::draw, RecordingPhase::paused()), C::toggleDrawing);
}

}  // namespace
}  // namespace tolvane
