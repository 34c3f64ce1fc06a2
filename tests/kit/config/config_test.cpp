#include "kit/config/config.h"
#include "kit/config/url.h"

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

// A client pointed at a self-hosted server must refresh its tokens there too.
TEST(ConfigTest, AuthUrlFollowsItsVariableThenTheSiteThenTheBuiltInAddress) {
  const std::string builtIn = Config::resolveAuthURL(nullptr, nullptr).text();
  EXPECT_TRUE(builtIn.ends_with("/auth/v1")) << builtIn;
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {" https://auth.example/auth/v1 ", "http://127.0.0.1:8080", "https://auth.example/auth/v1"},
      {nullptr, "http://127.0.0.1:8080", "http://127.0.0.1:8080/auth/v1"},
      {"not a url", "http://127.0.0.1:8080/", "http://127.0.0.1:8080/auth/v1"},
      {nullptr, "not a url", Config::builtInSiteURL().appendingPathComponent("auth/v1").text()},
      {nullptr, nullptr, builtIn},
  };
  for (const auto& [auth, site, expected] : cases) {
    EXPECT_EQ(Config::resolveAuthURL(auth, site).text(), expected) << (auth ? auth : "-") << " " << (site ? site : "-");
  }
}

// Run in a fresh copy of this program, so that siteURL() is used there for the first time.
TEST(ConfigTest, SiteUrlComesFromTheEnvironmentOnceAtFirstUseAndPathsJoinWithoutDoubleSlash) {
  if (std::getenv("TOLVANE_TEST_INSIDE") != nullptr) {
    EXPECT_EQ(Config::siteURL().text(), "http://127.0.0.1:8080/");
    ScopedEnv changed("TOLVANE_SITE_URL", "http://127.0.0.1:1");
    EXPECT_EQ(Config::siteURL().text(), "http://127.0.0.1:8080/");
    EXPECT_EQ(Config::siteURL("/library").text(), "http://127.0.0.1:8080/library");
    EXPECT_EQ(Config::siteURL("library").text(), "http://127.0.0.1:8080/library");
    return;
  }
  const auto result = testing::runCommand(
      {std::filesystem::read_symlink("/proc/self/exe").string(),
       "--gtest_filter=ConfigTest.SiteUrlComesFromTheEnvironmentOnceAtFirstUseAndPathsJoinWithoutDoubleSlash"},
      {{"TOLVANE_SITE_URL", " \thttp://127.0.0.1:8080/ \t"}, {"TOLVANE_TEST_INSIDE", "1"}});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

TEST(ConfigTest, VaultDirectoryVariableIsUsedUnchangedOnEveryAccess) {
  for (const char* value : {"/srv/recordings", " relative dir "}) {
    ScopedEnv vault("TOLVANE_VAULT_DIR", value);
    EXPECT_EQ(Config::vaultDirectory(), value);
  }
  ScopedEnv unset("TOLVANE_VAULT_DIR", nullptr);
  EXPECT_EQ(Config::vaultDirectory().filename(), "Tolvane");
}

TEST(UrlTest, ParsesAbsoluteUrlsKeepingTheirTextUnchangedAndRejectsAnythingElse) {
  for (const char* text : {"https://tolvane.example", "https://tolvane.example/", "http://127.0.0.1:8080/base/?q=1",
                           "tolvane://auth?code=1"}) {
    auto url = Url::parse(text);
    ASSERT_TRUE(url) << text;
    EXPECT_EQ(url->text(), text);
  }
  for (const char* text : {"", "/just/a/path", "library", "tolvane.example", "https://", "https://exa mple.com",
                           "https://tolvane.example\n", "\nhttps://tolvane.example", "ht tp://x"}) {
    EXPECT_FALSE(Url::parse(text)) << text;
  }
}

TEST(UrlTest, AppendingJoinsWithOneSlashAndEncodesWhatCannotStandInAPath) {
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"https://tolvane.example", "library", "https://tolvane.example/library"},
      {"https://tolvane.example/", "library", "https://tolvane.example/library"},
      {"https://tolvane.example/", "/library", "https://tolvane.example/library"},
      {"http://127.0.0.1:9/base", "library", "http://127.0.0.1:9/base/library"},
      {"https://tolvane.example", "a/b", "https://tolvane.example/a/b"},
      {"https://h.example/p?x=1#f", "q", "https://h.example/p/q?x=1#f"},
      {"https://tolvane.example", "my clip?#%", "https://tolvane.example/my%20clip%3F%23%25"},
      {"https://tolvane.example", "caf\xC3\xA9", "https://tolvane.example/caf%C3%A9"},
  };
  for (const auto& [base, component, expected] : cases) {
    EXPECT_EQ(Url::parse(base)->appendingPathComponent(component).text(), expected) << base << " + " << component;
  }
  // Appending to the text keeps a configured trailing slash.
  EXPECT_EQ(Url::parse("https://h.example/")->appendingToText("/api/v1").text(), "https://h.example//api/v1");
  EXPECT_EQ(Url::parse("https://h.example")->appendingToText("/api/v1").text(), "https://h.example/api/v1");
}

TEST(UrlTest, ResolvesReferencesAgainstABase) {
  const auto base = *Url::parse("http://127.0.0.1:8080/files/");
  EXPECT_EQ(base.resolving("/files/abc")->text(), "http://127.0.0.1:8080/files/abc");
  EXPECT_EQ(base.resolving("abc")->text(), "http://127.0.0.1:8080/files/abc");
  EXPECT_EQ(base.resolving("https://other.example/x")->text(), "https://other.example/x");
}

}  // namespace
}  // namespace tolvane
