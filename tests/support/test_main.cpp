// The main() of every test program: quiet logs unless TOLVANE_LOG_LEVEL asks for them
// (tests assert log lines through MemoryLogSink instead of reading stderr).
#include <gtest/gtest.h>

#include "kit/base/log.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!tolvane::Log::stderrLevelFromEnvironment()) tolvane::Log::setStderrLevel(tolvane::LogLevel::off);
  return RUN_ALL_TESTS();
}
