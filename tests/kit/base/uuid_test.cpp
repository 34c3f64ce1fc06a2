#include "kit/base/uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace tolvane {
namespace {

TEST(UUIDTest, NewIdentifiersAreCanonicalUpperCaseVersion4AndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const auto id = makeUUID();
    ASSERT_TRUE(isCanonicalUUID(id)) << id;
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
    for (char c : id) EXPECT_FALSE(c >= 'a' && c <= 'f');
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_FALSE(isCanonicalUUID("1F3A9C2B-7D41-4E0A-9B8C-2D5E6F70819"));
  EXPECT_FALSE(isCanonicalUUID("1F3A9C2B_7D41-4E0A-9B8C-2D5E6F708192"));
}

}  // namespace
}  // namespace tolvane
