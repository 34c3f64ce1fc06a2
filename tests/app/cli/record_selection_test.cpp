#include "app/cli/record_selection.h"

#include <gtest/gtest.h>

#include "app/capture/sources/synthetic_sources.h"
#include "app/cli/cli_args.h"

namespace tolvane::cli {
namespace {

TEST(RecordSelection, BubbleAndBlurTakeFractions) {
  BubbleLayout bubble = parseBubble("0.8,0.25,0.2");
  EXPECT_EQ(bubble.centre.x, 0.8);
  EXPECT_EQ(bubble.centre.y, 0.25);
  EXPECT_EQ(bubble.diameterFraction, 0.2);
  Rect blur = parseBlur("0.1,0.2,0.3,0.4");
  EXPECT_EQ(blur.x, 0.1);
  EXPECT_EQ(blur.height, 0.4);
  for (const char* bad : {"", "0.5,0.5", "0.5,0.5,0.2,", "0.5;0.5;0.2", "1.5,0.5,0.2", "-0.1,0.5,0.2", "a,b,c",
                          "0.5,0.5,0.2x"}) {
    EXPECT_THROW(parseBubble(bad), UsageError) << bad;
  }
  EXPECT_THROW(parseBlur("0.1,0.2,0.3"), UsageError);
}

TEST(RecordSelection, TheTestSceneIsFoundByEitherOfItsIds) {
  EXPECT_EQ(resolveTarget(std::string(SyntheticSources::screenID)), SyntheticSources::screenTarget());
  EXPECT_EQ(resolveTarget(SyntheticSources::screenTarget().id()), SyntheticSources::screenTarget());
}

}  // namespace
}  // namespace tolvane::cli
