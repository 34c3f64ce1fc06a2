#include "kit/base/iso8601.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace std::chrono;

TEST(ISO8601Test, WritesAndReadsOnlyWholeSecondUTC) {
  const Date date = sys_days(year(2026) / 3 / 5) + hours(14) + minutes(7) + seconds(9);
  EXPECT_EQ(formatISO8601(date + milliseconds(999)), "2026-03-05T14:07:09Z");
  EXPECT_EQ(parseISO8601("2026-03-05T14:07:09Z"), date);
  EXPECT_EQ(parseISO8601("2026-03-05T16:07:09+02:00"), date);
  for (const char* bad : {"2026-03-05T14:07:09.123Z", "2026-03-05 14:07:09Z", "2026-03-05T14:07:09",
                          "2026-02-30T14:07:09Z", "2026-03-05T14:07:09Zjunk", ""}) {
    EXPECT_FALSE(parseISO8601(bad)) << bad;
  }
  // The fractional form is accepted only where asked for.
  EXPECT_EQ(parseISO8601WithFraction("2026-03-05T14:07:09.250Z"), date + milliseconds(250));
  EXPECT_FALSE(parseISO8601WithFraction("2026-03-05T14:07:09.Z"));
}

TEST(ISO8601Test, ReferenceDateSecondsRoundTrip) {
  EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(sys_days(year(2001) / 1 / 1)), 0.0);
  EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(dateFromReferenceSeconds(794'000'000.5)), 794'000'000.5);
}

}  // namespace
}  // namespace tolvane
