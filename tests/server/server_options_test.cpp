#include "server/server_options.h"

#include <gtest/gtest.h>

namespace tolvane::server {
namespace {

TEST(ServerOptions, DefaultsServeLoopbackWithTheBuiltInKey) {
  const auto options = ServerOptions::parse({"--data", "/tmp/x"});
  EXPECT_EQ(options.host, "127.0.0.1");
  EXPECT_EQ(options.siteURL, "http://127.0.0.1:8787");
  EXPECT_FALSE(options.anonKey.empty());
  EXPECT_EQ(options.ticketTTL, 86400);
  EXPECT_FALSE(options.recordingLimit);
}

TEST(ServerOptions, ListenDecidesTheSiteURLUnlessGiven) {
  EXPECT_EQ(ServerOptions::parse({"--listen", "127.0.0.1:9000"}).siteURL, "http://127.0.0.1:9000");
  EXPECT_EQ(ServerOptions::parse({"--listen", "[::1]:9000"}).siteURL, "http://[::1]:9000");
  EXPECT_EQ(ServerOptions::parse({"--listen", "[::1]:9000"}).host, "::1");
  EXPECT_EQ(ServerOptions::parse({"--listen", "127.0.0.1:9000", "--site-url", "https://rec.example/"}).siteURL,
            "https://rec.example");
}

TEST(ServerOptions, ReadsEveryValueFlag) {
  const auto options = ServerOptions::parse({"--anon-key", "k", "--auto-approve", "A@Example.com", "--recording-limit",
                                             "0", "--access-token-ttl", "2", "--ticket-ttl", "3", "--sign-in-ttl", "4",
                                             "--upload-ttl", "5", "--max-upload-size", "6", "--latest-version", "9.1",
                                             "--latest-unavailable", "--latest-download-url", "https://d",
                                             "--latest-page-url", "https://p"});
  EXPECT_EQ(options.anonKey, "k");
  EXPECT_EQ(options.autoApproveEmail, "A@Example.com");
  EXPECT_EQ(options.recordingLimit, 0);
  EXPECT_EQ(options.accessTokenTTL, 2);
  EXPECT_EQ(options.ticketTTL, 3);
  EXPECT_EQ(options.signInTTL, 4);
  EXPECT_EQ(options.uploadTTL, 5);
  EXPECT_EQ(options.maxUploadBytes, 6);
  EXPECT_EQ(options.latestVersion, "9.1");
  EXPECT_FALSE(options.latestAvailable);
  EXPECT_EQ(options.latestDownloadURL, "https://d");
  EXPECT_EQ(options.latestPageURL, "https://p");
}

TEST(ServerOptions, RefusesBadCommandLinesWithAMessage) {
  const std::vector<std::vector<std::string>> bad{{"--listen"},
                                                  {"--listen", "8787"},
                                                  {"--listen", "127.0.0.1:70000"},
                                                  {"--listen", "127.0.0.1:http"},
                                                  {"--access-token-ttl", "0"},
                                                  {"--recording-limit", "-1"},
                                                  {"--ticket-ttl", "12x"},
                                                  {"--auto-approve", "nobody"},
                                                  {"--anon-key", ""},
                                                  {"--frobnicate"}};
  for (const auto& arguments : bad) {
    EXPECT_THROW(ServerOptions::parse(arguments), ServerOptionsError) << arguments.front();
  }
  try {
    ServerOptions::parse({"--frobnicate"});
  } catch (const ServerOptionsError& error) {
    EXPECT_STREQ(error.what(), "Unknown option \"--frobnicate\". Try --help.");
  }
}

}  // namespace
}  // namespace tolvane::server
