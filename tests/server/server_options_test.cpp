#include "server/server_options.h"

#include <gtest/gtest.h>

#include "tests/support/thrown.h"

namespace tolvane::server {
namespace {

using Arguments = std::vector<std::string>;

TEST(ServerOptions, ListenDecidesHostAndSiteURLUnlessGivenAndPlainHTTPBeyondLoopbackWarns) {
  const std::tuple<Arguments, std::string, std::string, bool> cases[] = {
      {{"--data", "/tmp/x"}, "127.0.0.1", "http://127.0.0.1:8787", false},
      {{"--listen", "[::1]:9000"}, "::1", "http://[::1]:9000", false},
      {{"--listen", "127.0.0.1:9000", "--site-url", "https://rec.example/"}, "127.0.0.1", "https://rec.example", false},
      {{"--listen", "0.0.0.0:443", "--tls-cert", "c", "--tls-key", "k"}, "0.0.0.0", "https://0.0.0.0:443", false},
      {{"--listen", "0.0.0.0:80"}, "0.0.0.0", "http://0.0.0.0:80", true},
      {{"--listen", "192.0.2.1:80", "--behind-proxy"}, "192.0.2.1", "http://192.0.2.1:80", false}};
  for (const auto& [arguments, host, siteURL, warns] : cases) {
    const auto options = ServerOptions::parse(arguments);
    EXPECT_EQ(std::tuple(options.host, options.siteURL, !options.exposureWarning().empty()),
              std::tuple(host, siteURL, warns))
        << arguments[1];
  }
}

TEST(ServerOptions, RefusesBadCommandLinesWithAMessage) {
  const std::pair<Arguments, std::string> cases[] = {
      {{"--listen"}, "--listen needs a value."},
      {{"--listen", "8787"}, "--listen needs HOST:PORT, not \"8787\"."},
      {{"--listen", "127.0.0.1:70000"}, "--listen names port 70000, beyond 65535."},
      {{"--recording-limit", "-1"}, "--recording-limit needs a whole number of at least 0, not \"-1\"."},
      {{"--ticket-ttl", "12x"}, "--ticket-ttl needs a whole number of at least 1, not \"12x\"."},
      {{"--auto-approve", "nobody"}, "--auto-approve needs an e-mail address, not \"nobody\"."},
      {{"--anon-key", ""}, "--anon-key must not be empty."},
      {{"--listen", "0.0.0.0:80", "--auto-approve", "a@b.c"},
       "--auto-approve is only allowed when listening on loopback, not on 0.0.0.0."},
      {{"--tls-cert", "c"}, "--tls-cert and --tls-key go together; give both or neither."},
      {{"--site-url", "ftp://x"}, "--site-url needs an http:// or https:// address, not \"ftp://x\"."},
      {{"--frobnicate"}, "Unknown option \"--frobnicate\". Try --help."}};
  for (const auto& [arguments, message] : cases) {
    EXPECT_EQ(testing::thrownWhat<ServerOptionsError>([&] { ServerOptions::parse(arguments); }), message)
        << arguments.front();
  }
}

}  // namespace
}  // namespace tolvane::server
