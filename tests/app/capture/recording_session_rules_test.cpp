#include "app/capture/recording_session_rules.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace RecordingSessionRules;

// A missing target is refused end to end in tests/app/cli/record_command_test.
TEST(RecordingSessionRules, TheDiskCheckWantsTwoGibibytes) {
  EXPECT_EQ(preflight({true, 2'147'483'648}), std::nullopt);
  EXPECT_EQ(preflight({true, 1'500'000'000}),
            "Only 1.5 GB free on this disk. Tolvane needs about 2 GB of headroom so a long recording can't run out "
            "of space midway.");
}

TEST(RecordingSessionRules, RecordingsOfAFifthOfASecondOrLessAreEmpty) {
  EXPECT_TRUE(isEmptyRecording(0));
  EXPECT_TRUE(isEmptyRecording(0.2));
  EXPECT_FALSE(isEmptyRecording(0.21));
  EXPECT_EQ(failureMessage("That window has closed."),
            "That window has closed. Everything captured up to this point is saved on your computer.");
}

}  // namespace
}  // namespace tolvane
