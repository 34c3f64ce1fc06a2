#include "kit/base/log.h"

#include <gtest/gtest.h>

#include "kit/base/memory_log_sink.h"

namespace tolvane {
namespace {

TEST(LogTest, MemorySinkCapturesExactLinesPerCategoryUntilDetached) {
  std::vector<LogEntry> seen;
  {
    auto sink = MemoryLogSink::attach();
    Logger("vault").error("manifest unreadable at {}; using backup", "2026-03-05 14-07-09 1F3A9C2B");
    Logger("writer").info("finished {:.{}f} s", 1.23456, 2);
    EXPECT_TRUE(
        sink->contains("vault", LogLevel::error, "manifest unreadable at 2026-03-05 14-07-09 1F3A9C2B; using backup"));
    EXPECT_EQ(sink->messages("writer"), std::vector<std::string>{"finished 1.23 s"});
    seen = sink->entries();
  }
  Logger("app").info("after");
  EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
}  // namespace tolvane
