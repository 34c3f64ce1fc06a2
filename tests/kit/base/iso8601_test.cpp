#include "kit/base/iso8601.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace std::chrono;

TEST(ISO8601Test, FormatsUTCWholeSeconds) {
  const Date date = sys_days(year(2026) / 3 / 5) + hours(14) + minutes(7) + seconds(9) + milliseconds(999);
  EXPECT_EQ(formatISO8601(date), "2026-03-05T14:07:09Z");
}

TEST(ISO8601Test, ParsesOnlyTheWrittenForm) {
  const auto date = parseISO8601("2026-03-05T14:07:09Z");
  ASSERT_TRUE(date);
  EXPECT_EQ(formatISO8601(*date), "2026-03-05T14:07:09Z");
  EXPECT_EQ(parseISO8601("2026-03-05T16:07:09+02:00"), date);
  EXPECT_FALSE(parseISO8601("2026-03-05T14:07:09.123Z"));
  EXPECT_FALSE(parseISO8601("2026-03-05 14:07:09Z"));
  EXPECT_FALSE(parseISO8601("2026-03-05T14:07:09"));
  EXPECT_FALSE(parseISO8601("2026-02-30T14:07:09Z"));
  EXPECT_FALSE(parseISO8601("2026-03-05T14:07:09Zjunk"));
  EXPECT_FALSE(parseISO8601(""));
}

TEST(ISO8601Test, FractionalFormIsAcceptedWhereAsked) {
  const auto date = parseISO8601WithFraction("2026-03-05T14:07:09.250Z");
  ASSERT_TRUE(date);
  EXPECT_EQ(duration_cast<milliseconds>(date->time_since_epoch()).count() % 1000, 250);
  EXPECT_FALSE(parseISO8601WithFraction("2026-03-05T14:07:09.Z"));
}

TEST(ISO8601Test, ReferenceDateSecondsRoundTrip) {
  const Date reference = sys_days(year(2001) / 1 / 1);
  EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(reference), 0.0);
  EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(dateFromReferenceSeconds(794'000'000.5)), 794'000'000.5);
}

}  // namespace
}  // namespace tolvane
