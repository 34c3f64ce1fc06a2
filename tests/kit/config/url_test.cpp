#include "kit/config/url.h"

#include <gtest/gtest.h>

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

TEST(UrlTest, AppendingPathComponentJoinsWithExactlyOneSlash) {
  const auto bare = *Url::parse("https://tolvane.example");
  const auto slashed = *Url::parse("https://tolvane.example/");
  const auto withPath = *Url::parse("http://127.0.0.1:9/base");
  EXPECT_EQ(bare.appendingPathComponent("library").text(), "https://tolvane.example/library");
  EXPECT_EQ(slashed.appendingPathComponent("library").text(), "https://tolvane.example/library");
  EXPECT_EQ(slashed.appendingPathComponent("/library").text(), "https://tolvane.example/library");
  EXPECT_EQ(withPath.appendingPathComponent("library").text(), "http://127.0.0.1:9/base/library");
  EXPECT_EQ(bare.appendingPathComponent("a/b").text(), "https://tolvane.example/a/b");
  EXPECT_EQ(Url::parse("https://h.example/p?x=1#f")->appendingPathComponent("q").text(), "https://h.example/p/q?x=1#f");
}

TEST(UrlTest, AppendingPathComponentEncodesWhatCannotStandInAPath) {
  const auto base = *Url::parse("https://tolvane.example");
  EXPECT_EQ(base.appendingPathComponent("my clip?#%").text(), "https://tolvane.example/my%20clip%3F%23%25");
  EXPECT_EQ(base.appendingPathComponent("caf\xC3\xA9").text(), "https://tolvane.example/caf%C3%A9");
  EXPECT_TRUE(Url::parse(base.appendingPathComponent("my clip").text()));
}

TEST(UrlTest, AppendingToTextKeepsAConfiguredTrailingSlash) {
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
