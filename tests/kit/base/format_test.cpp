#include "kit/base/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tolvane {
namespace {

TEST(FormatByteCountTest, UsesDecimalUnitsWithFileStylePrecision) {
  EXPECT_EQ(formatByteCount(0), "Zero KB");
  EXPECT_EQ(formatByteCount(1), "1 byte");
  EXPECT_EQ(formatByteCount(999), "999 bytes");
  EXPECT_EQ(formatByteCount(1000), "1 KB");
  EXPECT_EQ(formatByteCount(12'400), "12 KB");
  EXPECT_EQ(formatByteCount(999'600), "1 MB");  // would round to 1000 KB
  EXPECT_EQ(formatByteCount(1'500'000), "1.5 MB");
  EXPECT_EQ(formatByteCount(1'500'000'000), "1.5 GB");
  EXPECT_EQ(formatByteCount(1'534'000'000), "1.53 GB");
  EXPECT_EQ(formatByteCount(2'147'483'647), "2.15 GB");
  EXPECT_EQ(formatByteCount(734'003'200), "734 MB");
  EXPECT_EQ(formatByteCount(3'000'000'000'000), "3 TB");
}

TEST(FormatDurationTest, RoundsAndSwitchesToHoursAtOneHour) {
  EXPECT_EQ(formatDuration(0), "0:00");
  EXPECT_EQ(formatDuration(0.5), "0:01");  // halves away from zero
  EXPECT_EQ(formatDuration(0.49), "0:00");
  EXPECT_EQ(formatDuration(65), "1:05");
  EXPECT_EQ(formatDuration(3599.4), "59:59");
  EXPECT_EQ(formatDuration(3599.5), "1:00:00");
  EXPECT_EQ(formatDuration(3600 * 10 + 61), "10:01:01");
  EXPECT_EQ(formatDuration(-3), "0:00");
  EXPECT_EQ(formatDuration(std::numeric_limits<double>::quiet_NaN()), "0:00");
  EXPECT_EQ(formatDuration(std::numeric_limits<double>::infinity()), "0:00");
}

}  // namespace
}  // namespace tolvane
