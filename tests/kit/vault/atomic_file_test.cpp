// Reading (regular files only, within a size limit, never hanging on a FIFO) is judged
// through the vault scan in vault_damage_test.
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

}  // namespace
}  // namespace tolvane
