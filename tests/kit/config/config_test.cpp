#include "kit/config/config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "kit/base/memory_log_sink.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::ScopedEnv;

TEST(ConfigTest, SiteUrlVariableIsTrimmedOfSpacesAndTabsOnlyAndOtherwiseFallsBackSilently) {
  auto sink = MemoryLogSink::attach();
  const std::string builtIn = Config::builtInSiteURL().text();
  EXPECT_FALSE(builtIn.ends_with('/'));
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"  \thttp://127.0.0.1:8080 \t ", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/"},
      {"http://127.0.0.1:8080/base", "http://127.0.0.1:8080/base"},
      {"http://127.0.0.1:8080\n", builtIn},  // a line break is not trimmed, and does not parse
      {"", builtIn},
      {"   ", builtIn},
      {"not a url", builtIn},
      {"/bare/path", builtIn},
      {"tolvane.example", builtIn},
      {"http://bad host", builtIn},
      {nullptr, builtIn},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(Config::resolveSiteURL(value).text(), expected) << (value != nullptr ? value : "(unset)");
  }
  EXPECT_TRUE(sink->entries().empty());
}

TEST(ConfigTest, SiteUrlIsComputedOnceAndPathsJoinWithoutDoubleSlash) {
  const Url first = Config::siteURL();
  {
    ScopedEnv changed("TOLVANE_SITE_URL", "http://127.0.0.1:1");
    EXPECT_EQ(Config::siteURL(), first);
  }
  EXPECT_EQ(Config::siteURL("/library"), Config::siteURL("library"));
  EXPECT_EQ(Config::siteURL("library").text().find("//library"), std::string::npos);
  EXPECT_TRUE(Config::siteURL("library").text().ends_with("/library"));
}

// Run in a fresh copy of this program, so that siteURL() is used there for the first time.
TEST(ConfigTest, SiteUrlComesFromTheEnvironmentAtFirstUse) {
  if (const char* expected = std::getenv("TOLVANE_TEST_EXPECTED_SITE_URL")) {
    EXPECT_EQ(Config::siteURL().text(), expected);
    return;
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string filter = "--gtest_filter=ConfigTest.SiteUrlComesFromTheEnvironmentAtFirstUse";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {" \thttp://127.0.0.1:8080/ \t", "http://127.0.0.1:8080/"},
      {"no scheme", Config::builtInSiteURL().text()},
  };
  for (const auto& [value, expected] : cases) {
    const auto result = testing::runCommand(
        {self, filter}, {{"TOLVANE_SITE_URL", value}, {"TOLVANE_TEST_EXPECTED_SITE_URL", expected}});
    EXPECT_EQ(result.status, 0) << value << "\n" << result.out;
  }
}

TEST(ConfigTest, VaultDirectoryVariableIsUsedUnchangedOnEveryAccess) {
  for (const char* value : {"/srv/recordings", " relative dir "}) {
    ScopedEnv vault("TOLVANE_VAULT_DIR", value);
    EXPECT_EQ(Config::vaultDirectory(), value);
  }
  ScopedEnv unset("TOLVANE_VAULT_DIR", nullptr);
  EXPECT_EQ(Config::vaultDirectory().filename(), "Tolvane");
}

}  // namespace
}  // namespace tolvane
