#include "kit/config/config.h"
#include "kit/config/url.h"

#include <gtest/gtest.h>

#include "kit/base/memory_log_sink.h"

namespace tolvane {
namespace {

TEST(ConfigTest, SiteUrlVariableIsTrimmedOfSpacesAndTabsOnlyAndOtherwiseFallsBackSilently) {
  auto sink = MemoryLogSink::attach();
  const std::string builtIn = Config::builtInSiteURL().text();
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"  \thttp://127.0.0.1:8080 \t ", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080/base", "http://127.0.0.1:8080/base"},
      {"http://127.0.0.1:8080\n", builtIn},  // a line break is not trimmed, and does not parse
      {"   ", builtIn},
      {"tolvane.example", builtIn},
      {nullptr, builtIn},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(Config::resolveSiteURL(value).text(), expected) << (value != nullptr ? value : "(unset)");
  }
  EXPECT_TRUE(sink->entries().empty());
}

// A client pointed at a self-hosted server must refresh its tokens there too.
TEST(ConfigTest, AuthUrlFollowsItsVariableThenTheSiteThenTheBuiltInAddress) {
  // With neither variable the built-in authentication address is used as it is configured.
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {" https://auth.example/auth/v1 ", "http://127.0.0.1:8080", "https://auth.example/auth/v1"},
      {"not a url", "http://127.0.0.1:8080/", "http://127.0.0.1:8080/auth/v1"},
      {nullptr, "not a url", Config::builtInSiteURL().appendingPathComponent("auth/v1").text()}};
  for (const auto& [auth, site, expected] : cases) {
    EXPECT_EQ(Config::resolveAuthURL(auth, site).text(), expected) << (auth ? auth : "-") << " " << (site ? site : "-");
  }
}

TEST(UrlTest, ParsesAbsoluteUrlsKeepingTheirTextUnchangedAndRejectsAnythingElse) {
  for (const char* text : {"https://tolvane.example", "https://tolvane.example/", "http://127.0.0.1:8080/base/?q=1",
                           "tolvane://auth?code=1"}) {
    auto url = Url::parse(text);
    ASSERT_TRUE(url) << text;
    EXPECT_EQ(url->text(), text);
  }
  for (const char* text : {"", "/just/a/path", "tolvane.example", "https://", "https://exa mple.com",
                           "https://tolvane.example\n"}) {
    EXPECT_FALSE(Url::parse(text)) << text;
  }
}

TEST(UrlTest, AppendingJoinsWithOneSlashAndEncodesWhatCannotStandInAPath) {
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"https://tolvane.example", "library", "https://tolvane.example/library"},
      {"https://tolvane.example/", "/library", "https://tolvane.example/library"},
      {"http://127.0.0.1:9/base", "a/b", "http://127.0.0.1:9/base/a/b"},
      {"https://h.example/p?x=1#f", "q", "https://h.example/p/q?x=1#f"},
      {"https://tolvane.example", "my clip?#%", "https://tolvane.example/my%20clip%3F%23%25"},
      {"https://tolvane.example", "caf\xC3\xA9", "https://tolvane.example/caf%C3%A9"},
  };
  for (const auto& [base, component, expected] : cases) {
    EXPECT_EQ(Url::parse(base)->appendingPathComponent(component).text(), expected) << base << " + " << component;
  }
}

}  // namespace
}  // namespace tolvane
