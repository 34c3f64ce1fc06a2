#include "kit/vault/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <system_error>

#include <fmt/format.h>

#include "tests/kit/vault/vault_test_environment.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

TEST(AtomicFileTest, ReplacesTheFileRemovesStaleLeftoversAndStepsAroundTakenNames) {
  TempDir dir;
  writeFileAtomically(dir / "a.json", "first");
  writeFileAtomically(dir / "a.json", "second, longer");
  EXPECT_EQ(readFile(dir / "a.json"), "second, longer");
  EXPECT_EQ(testing::sortedNames(dir.path()), std::vector<std::string>{"a.json"});
  EXPECT_THROW(writeFileAtomically(dir / "missing/a.json", "x"), std::system_error);

  // A leftover of a killed writer with this very process id, and an old one.
  writeFile(dir / fmt::format(".a.json.{}-0.tmp", ::getpid()), "half");
  writeFile(dir / ".a.json.1-7.tmp", "old half");
  const timespec old[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / ".a.json.1-7.tmp").c_str(), old, 0), 0);
  writeFileAtomically(dir / "a.json", "whole");
  EXPECT_EQ(readFile(dir / "a.json"), "whole");
  EXPECT_EQ(testing::sortedNames(dir.path()), (std::vector<std::string>{fmt::format(".a.json.{}-0.tmp", ::getpid()), "a.json"}));
}

TEST(AtomicFileTest, ReadsOnlyRegularFilesWithinTheLimit) {
  TempDir dir;
  writeFile(dir / "small", "12345");
  writeFile(dir / "empty", "");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  auto read = [&](const fs::path& path, std::size_t limit) { return readRegularFile(AT_FDCWD, path.c_str(), limit); };
  EXPECT_EQ(read(dir / "small", 5), "12345");
  EXPECT_EQ(read(dir / "empty", 10), "");
  EXPECT_FALSE(read(dir / "small", 4));
  EXPECT_FALSE(read(dir / "missing", 10));
  EXPECT_FALSE(read(dir.path(), 10));
  EXPECT_FALSE(read(dir / "fifo", 10));  // and does not hang
}

}  // namespace
}  // namespace tolvane
