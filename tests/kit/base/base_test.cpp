#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "kit/base/format.h"
#include "kit/base/iso8601.h"
#include "kit/base/process_io.h"
#include "kit/base/uuid.h"

namespace tolvane {
namespace {

using namespace std::chrono;

TEST(FormatTest, ByteCountsUseDecimalUnitsAndDurationsSwitchToHoursAtOneHour) {
  const std::vector<std::pair<std::int64_t, const char*>> cases = {
      {0, "Zero KB"}, {1, "1 byte"}, {999, "999 bytes"}, {12'400, "12 KB"}, {999'600, "1 MB"},  // not 1000 KB
      {1'500'000, "1.5 MB"}, {1'534'000'000, "1.53 GB"}, {734'003'200, "734 MB"}, {3'000'000'000'000, "3 TB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
  // Durations round and switch to hours at one hour.
  const std::vector<std::pair<double, const char*>> durations = {
      {0.5, "0:01"}, {0.49, "0:00"}, {65, "1:05"}, {3599.4, "59:59"}, {3599.5, "1:00:00"},  // halves away from zero
      {3600 * 10 + 61, "10:01:01"}, {-3, "0:00"}, {std::numeric_limits<double>::quiet_NaN(), "0:00"}};
  for (const auto& [seconds, text] : durations) EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

TEST(ISO8601Test, WritesAndReadsOnlyWholeSecondUTC) {
  const Date date = sys_days(year(2026) / 3 / 5) + hours(14) + minutes(7) + seconds(9);
  EXPECT_EQ(formatISO8601(date + milliseconds(999)), "2026-03-05T14:07:09Z");
  EXPECT_EQ(parseISO8601("2026-03-05T14:07:09Z"), date);
  EXPECT_EQ(parseISO8601("2026-03-05T16:07:09+02:00"), date);
  for (const char* bad : {"2026-03-05T14:07:09.123Z", "2026-03-05T14:07:09", "2026-02-30T14:07:09Z"}) {
    EXPECT_FALSE(parseISO8601(bad)) << bad;
  }
  // The fractional form is accepted only where asked for.
  EXPECT_EQ(parseISO8601WithFraction("2026-03-05T14:07:09.250Z"), date + milliseconds(250));
}

TEST(UUIDTest, NewIdentifiersAreCanonicalUpperCaseVersion4) {
  for (int i = 0; i < 1000; ++i) {
    const auto id = makeUUID();
    ASSERT_TRUE(isCanonicalUUID(id)) << id;
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
  }
}

// Counts what was read from the page cache too (a disk-only count would stay flat here:
// the file was just written).
TEST(ProcessIOTest, ReadingAFileRaisesTheCountByAtLeastItsSize) {
  const std::string path = ::testing::TempDir() + "process-io-test.bin";
  const std::string written(1 << 20, 'x');
  std::ofstream(path, std::ios::binary) << written;
  const auto before = processReadBytes();
  ASSERT_TRUE(before);
  std::string read(written.size(), '\0');
  std::ifstream(path, std::ios::binary).read(read.data(), static_cast<std::streamsize>(read.size()));
  const auto after = processReadBytes();
  std::remove(path.c_str());
  ASSERT_EQ(read, written);
  ASSERT_TRUE(after);
  EXPECT_GE(*after - *before, written.size());
}

}  // namespace
}  // namespace tolvane
