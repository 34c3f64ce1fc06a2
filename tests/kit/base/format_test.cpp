#include "kit/base/format.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvane {
namespace {

TEST(FormatTest, ByteCountsUseDecimalUnitsWithFileStylePrecision) {
  const std::vector<std::pair<std::int64_t, const char*>> cases = {
      {0, "Zero KB"},           {1, "1 byte"},
      {999, "999 bytes"},       {1000, "1 KB"},
      {12'400, "12 KB"},        {999'600, "1 MB"},  // would round to 1000 KB
      {1'500'000, "1.5 MB"},    {1'500'000'000, "1.5 GB"},
      {1'534'000'000, "1.53 GB"}, {2'147'483'647, "2.15 GB"},
      {734'003'200, "734 MB"},  {3'000'000'000'000, "3 TB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
}

TEST(FormatTest, DurationsRoundAndSwitchToHoursAtOneHour) {
  const std::vector<std::pair<double, const char*>> cases = {
      {0, "0:00"},          {0.5, "0:01"},  // halves away from zero
      {0.49, "0:00"},       {65, "1:05"},
      {3599.4, "59:59"},    {3599.5, "1:00:00"},
      {3600 * 10 + 61, "10:01:01"}, {-3, "0:00"},
      {std::numeric_limits<double>::quiet_NaN(), "0:00"}, {std::numeric_limits<double>::infinity(), "0:00"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

}  // namespace
}  // namespace tolvane
