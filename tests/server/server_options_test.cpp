#include "server/server_options.h"

#include <gtest/gtest.h>

namespace tolvane::server {
namespace {

TEST(ServerOptions, ListenDecidesHostAndSiteURLUnlessGiven) {
  const auto defaults = ServerOptions::parse({"--data", "/tmp/x"});
  EXPECT_EQ(defaults.host, "127.0.0.1");
  EXPECT_EQ(defaults.siteURL, "http://127.0.0.1:8787");
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases{
      {{"--listen", "127.0.0.1:9000"}, "127.0.0.1", "http://127.0.0.1:9000"},
      {{"--listen", "[::1]:9000"}, "::1", "http://[::1]:9000"},
      {{"--listen", "127.0.0.1:9000", "--site-url", "https://rec.example/"}, "127.0.0.1", "https://rec.example"}};
  for (const auto& [arguments, host, siteURL] : cases) {
    const auto options = ServerOptions::parse(arguments);
    EXPECT_EQ(options.host, host) << arguments[1];
    EXPECT_EQ(options.siteURL, siteURL) << arguments[1];
  }
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
    ADD_FAILURE() << "an unknown option was accepted";
  } catch (const ServerOptionsError& error) {
    EXPECT_STREQ(error.what(), "Unknown option \"--frobnicate\". Try --help.");
  }
}

}  // namespace
}  // namespace tolvane::server
