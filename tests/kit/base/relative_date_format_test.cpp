#include "kit/base/relative_date_format.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(RelativeDateFormat, PicksTheLargestUnitThatFitsInTheGivenLocale) {
  const Date now = *parseISO8601("2026-03-05T15:00:00Z");
  const std::pair<std::chrono::seconds, const char*> english[] = {{-30s, "now"},
                                                                  {-12min, "12 min. ago"},
                                                                  {-3h, "3 hr. ago"},
                                                                  {-25h, "yesterday"},
                                                                  {-47h, "yesterday"},
                                                                  {-72h, "3 days ago"},
                                                                  {-std::chrono::hours(24 * 14), "2 wk. ago"},
                                                                  {-std::chrono::hours(24 * 45), "last mo."},
                                                                  {-std::chrono::hours(24 * 800), "2 yr. ago"},
                                                                  // Another machine's clock ahead of ours.
                                                                  {5min, "in 5 min."}};
  for (const auto& [offset, text] : english) {
    EXPECT_EQ(formatRelativeDate(now + offset, now, "en_US"), text) << offset.count();
  }
  EXPECT_EQ(formatRelativeDate(now - 3h, now, "de_DE"), "vor 3 Std.");
}

}  // namespace
}  // namespace tolvane
