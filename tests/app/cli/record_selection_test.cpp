#include "app/cli/record_selection.h"

#include <gtest/gtest.h>

#include "app/cli/cli_args.h"

namespace tolvane::cli {
namespace {

TEST(RecordSelection, BubbleAndBlurTakeFractions) {
  EXPECT_EQ(parseBubble("0.8,0.25,0.2"), (BubbleLayout{{0.8, 0.25}, 0.2}));
  EXPECT_EQ(parseBlur("0.1,0.2,0.3,0.4"), (Rect{0.1, 0.2, 0.3, 0.4}));
  for (const char* bad : {"", "0.5,0.5", "0.5,0.5,0.2,", "0.5;0.5;0.2", "1.5,0.5,0.2", "-0.1,0.5,0.2", "a,b,c",
                          "0.5,0.5,0.2x"}) {
    EXPECT_THROW(parseBubble(bad), UsageError) << bad;
  }
  EXPECT_THROW(parseBlur("0.1,0.2,0.3"), UsageError);
}

}  // namespace
}  // namespace tolvane::cli
