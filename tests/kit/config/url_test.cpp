#include "kit/config/url.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tolvane {
namespace {

TEST(UrlTest, ParsesAbsoluteUrlsAndKeepsTheirTextUnchanged) {
  for (const char* text : {"https://tolvane.example", "https://tolvane.example/", "http://127.0.0.1:8080/base/",
                           "tolvane://auth?code=1"}) {
    auto url = Url::parse(text);
    ASSERT_TRUE(url) << text;
    EXPECT_EQ(url->text(), text);
  }
  auto url = Url::parse("http://127.0.0.1:8080/base/?q=1");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->scheme(), "http");
  EXPECT_EQ(url->host(), "127.0.0.1");
  EXPECT_EQ(url->port(), 8080);
  EXPECT_EQ(url->path(), "/base/");
  EXPECT_EQ(url->query(), "q=1");
  EXPECT_EQ(Url::parse("https://tolvane.example")->port(), std::nullopt);
}

TEST(UrlTest, RejectsTextThatIsNoAbsoluteUrl) {
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
