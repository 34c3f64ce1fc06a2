#include "kit/config/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "kit/base/memory_log_sink.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::ScopedEnv;

TEST(ConfigTest, BuiltInValuesHaveTheirFixedForm) {
  EXPECT_EQ(Config::builtInSiteURL().scheme(), "https");
  EXPECT_EQ(Config::supabaseURL().scheme(), "https");
  EXPECT_FALSE(Config::builtInSiteURL().text().ends_with('/'));
  EXPECT_EQ(Config::urlScheme, "tolvane");
  EXPECT_EQ(Config::bundleIdentifier, "com.tolvanelabs.mac");

  const std::string& key = Config::supabaseAnonKey();
  EXPECT_EQ(std::count(key.begin(), key.end(), '.'), 2);
  EXPECT_EQ(key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_."),
            std::string::npos);
  EXPECT_EQ(&key, &Config::supabaseAnonKey());
}

TEST(ConfigTest, SiteUrlVariableIsTrimmedOfSpacesAndTabsOnly) {
  EXPECT_EQ(Config::resolveSiteURL("  \thttp://127.0.0.1:8080 \t ").text(), "http://127.0.0.1:8080");
  EXPECT_EQ(Config::resolveSiteURL("http://127.0.0.1:8080/").text(), "http://127.0.0.1:8080/");
  EXPECT_EQ(Config::resolveSiteURL("http://127.0.0.1:8080/base").text(), "http://127.0.0.1:8080/base");
  // A line break is not trimmed, and a URL with one does not parse.
  EXPECT_EQ(Config::resolveSiteURL("http://127.0.0.1:8080\n"), Config::builtInSiteURL());
}

TEST(ConfigTest, UnusableSiteUrlVariableFallsBackSilently) {
  auto sink = MemoryLogSink::attach();
  for (const char* value : {"", "   ", "not a url", "/bare/path", "tolvane.example", "http://bad host"}) {
    EXPECT_EQ(Config::resolveSiteURL(value), Config::builtInSiteURL()) << value;
  }
  EXPECT_EQ(Config::resolveSiteURL(nullptr), Config::builtInSiteURL());
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
  {
    ScopedEnv vault("TOLVANE_VAULT_DIR", "/srv/recordings");
    EXPECT_EQ(Config::vaultDirectory(), "/srv/recordings");
  }
  {
    ScopedEnv vault("TOLVANE_VAULT_DIR", " relative dir ");
    EXPECT_EQ(Config::vaultDirectory(), " relative dir ");
  }
  ScopedEnv unset("TOLVANE_VAULT_DIR", nullptr);
  EXPECT_EQ(Config::vaultDirectory().filename(), "Tolvane");
}

}  // namespace
}  // namespace tolvane
