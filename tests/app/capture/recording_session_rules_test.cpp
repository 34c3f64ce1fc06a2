#include "app/capture/recording_session_rules.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace RecordingSessionRules;

// A missing target is refused end to end in tests/app/cli/record_command_test, and the
// failure sentence in tests/app/core/recording_controller_test.
TEST(RecordingSessionRules, TheDiskCheckWantsTwoGibibytesAndAFifthOfASecondOrLessIsEmpty) {
  EXPECT_EQ(preflight({true, 2'147'483'648}), std::nullopt);
  EXPECT_EQ(preflight({true, 1'500'000'000}),
            "Only 1.5 GB free on this disk. Tolvane needs about 2 GB of headroom so a long recording can't run out "
            "of space midway.");
  EXPECT_TRUE(isEmptyRecording(0.2));
  EXPECT_FALSE(isEmptyRecording(0.21));
}

}  // namespace
}  // namespace tolvane
