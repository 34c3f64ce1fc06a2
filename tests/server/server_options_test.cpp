#include "server/server_options.h"

#include <gtest/gtest.h>

namespace tolvane::server {
namespace {

TEST(ServerOptions, ListenDecidesHostAndSiteURLUnlessGiven) {
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases{
      {{"--data", "/tmp/x"}, "127.0.0.1", "http://127.0.0.1:8787"},
      {{"--listen", "[::1]:9000"}, "::1", "http://[::1]:9000"},
      {{"--listen", "127.0.0.1:9000", "--site-url", "https://rec.example/"}, "127.0.0.1", "https://rec.example"},
      {{"--listen", "0.0.0.0:443", "--tls-cert", "c", "--tls-key", "k"}, "0.0.0.0", "https://0.0.0.0:443"}};
  for (const auto& [arguments, host, siteURL] : cases) {
    const auto options = ServerOptions::parse(arguments);
    EXPECT_EQ(options.host, host) << arguments[1];
    EXPECT_EQ(options.siteURL, siteURL) << arguments[1];
  }
}

TEST(ServerOptions, RefusesBadCommandLinesWithAMessage) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--listen"}, "--listen needs a value."},
      {{"--listen", "8787"}, "--listen needs HOST:PORT, not \"8787\"."},
      {{"--listen", "127.0.0.1:70000"}, "--listen names port 70000, beyond 65535."},
      {{"--recording-limit", "-1"}, "--recording-limit needs a whole number of at least 0, not \"-1\"."},
      {{"--ticket-ttl", "12x"}, "--ticket-ttl needs a whole number of at least 1, not \"12x\"."},
      {{"--threads", "1"}, "--threads needs a whole number of at least 2, not \"1\"."},
      {{"--auto-approve", "nobody"}, "--auto-approve needs an e-mail address, not \"nobody\"."},
      {{"--anon-key", ""}, "--anon-key must not be empty."},
      {{"--listen", "0.0.0.0:80", "--auto-approve", "a@b.c"},
       "--auto-approve is only allowed when listening on loopback, not on 0.0.0.0."},
      {{"--tls-cert", "c"}, "--tls-cert and --tls-key go together; give both or neither."},
      {{"--site-url", "ftp://x"}, "--site-url needs an http:// or https:// address, not \"ftp://x\"."},
      {{"--frobnicate"}, "Unknown option \"--frobnicate\". Try --help."}};
  for (const auto& [arguments, message] : cases) {
    try {
      ServerOptions::parse(arguments);
      ADD_FAILURE() << "accepted " << arguments.front();
    } catch (const ServerOptionsError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
}

TEST(ServerOptions, WarnsOnlyWhenServingPlainHTTPBeyondLoopback) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"--listen", "[::1]:80"}, false},
      {{"--listen", "0.0.0.0:80"}, true},
      {{"--listen", "192.0.2.1:80", "--behind-proxy"}, false},
      {{"--listen", "192.0.2.1:443", "--tls-cert", "c", "--tls-key", "k"}, false},
  };
  for (const auto& [arguments, warns] : cases) {
    EXPECT_EQ(ServerOptions::parse(arguments).exposureWarning().empty(), !warns) << arguments[1];
  }
}

}  // namespace
}  // namespace tolvane::server
