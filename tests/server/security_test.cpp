// tolvane-server as an attacker sees it: each case drives a server on a loopback port
// with requests a hostile web page, a thief holding a token, a password guesser or a
// malicious upload would send, and checks that they are refused and change nothing.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "kit/base/file_descriptor.h"
#include "server/database.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

constexpr const char* kForm = "application/x-www-form-urlencoded";

int64_t rows(TestServer& server, const std::string& table) {
  return server::Database(server.dataDirectory() / "tolvane-server.sqlite3")
      .queryOne("SELECT COUNT(*) FROM " + table)
      ->integer(0);
}

TEST(Security, ForgedHostNamesGet421AndTheJsonApiTakesOnlyJsonWithBearerTokensNeverCookies) {
  TestServer server;
  const std::string port = std::to_string(server.port());
  for (const auto& host : {"evil.example:" + port, "127.0.0.1.evil.example:" + port, "[::2]:" + port, std::string()}) {
    EXPECT_EQ(server.client()->Get("/", {{"Host", host}})->status, 421) << host;
    expectError(startSignIn(*server.client(), "verifier", {{"Host", host}}),
                {421, "misdirected_request", "This server doesn't answer to that host name."});
  }
  EXPECT_EQ(rows(server, "sign_in_requests"), 0);
  for (const auto& host : {"localhost:" + port, "[::1]:" + port}) {
    EXPECT_EQ(server.client()->Get("/", {{"Host", host}})->status, 200) << host;
  }

  const auto cookie = server.webSession("pat@example.com");
  for (const char* type : {kForm, "text/plain", "application/jsonp"}) {
    for (const char* path : {"/api/stream/upload-url", "/api/desktop/start", "/auth/v1/logout"}) {
      expectError(server.client()->Post(path, cookie, R"({"name":"x"})", type),
                  {415, "unsupported_media_type", "This endpoint takes a JSON body sent as application/json."});
    }
  }
  expectError(call(*server.client(), "POST", "/api/stream/upload-url", cookie, R"({"name":"x"})"),
              {401, "unauthorized", "Sign in to Tolvane to continue."});
}

TEST(Security, BrowserFormsNeedThisSitesOriginAndTheirCsrfToken) {
  TestServer server;
  const auto victim = server.webSession("victim@example.com");
  const std::string requestId = parseJson(startSignIn(*server.client())->body)["requestId"];
  const std::string csrf = server.visit("/connect?request=" + requestId, victim).csrf, own = server.url();
  const std::tuple<const char*, httplib::Headers, std::string> attacks[] = {  // headers besides the victim's cookie
      {"another site's Origin", {{"Origin", "http://evil.example"}}, csrf},
      {"a look-alike Origin", {{"Origin", own + ".evil.example"}}, csrf},
      {"another site's Referer", {{"Referer", "http://evil.example/" + own}}, csrf},
      {"no Origin or Referer", {}, csrf},
      {"no token", {{"Origin", own}}, ""},
      {"a token of another visitor", {{"Origin", own}}, server.visit().csrf},
  };
  for (const auto& [what, extra, token] : attacks) {
    for (const std::string path : {"/connect", "/signout"}) {
      httplib::Headers headers = victim;
      headers.insert(extra.begin(), extra.end());
      const auto response = server.client()->Post(path, headers, "request=" + requestId + "&csrf=" + token, kForm);
      EXPECT_EQ(response->status, 403) << what << " on " << path;
    }
  }
  // The victim is still signed in and the desktop request still waits for approval.
  expectPage(server.client()->Get("/connect?request=" + requestId, victim), 200, "Approve");
  EXPECT_EQ(server.postForm("/signin", server.visit().cookie, "email=victim%40example.com&password=x")->status, 403);
  // The page's own Referer (no Origin) with its token goes through.
  httplib::Headers ownPage = victim;
  ownPage.emplace("Referer", own + "/connect?request=" + requestId);
  EXPECT_EQ(server.client()->Post("/connect", ownPage, "request=" + requestId + "&csrf=" + csrf, kForm)->status, 200);
}

TEST(Security, SignInRedirectsNeverLeaveTheSite) {
  TestServer server;
  server.addUser("pat@example.com");
  const Visitor visitor = server.visit();
  const std::pair<std::string, std::string> cases[] = {
      {"%2F%09%2Fevil.example", "/library"},      {"%2F%5Cevil.example", "/library"},
      {"https%3A%2F%2Fevil.example", "/library"}, {"%2F%25252F%25252Fevil", "/library"},
      {"%2F%0D%0ASet-Cookie%3A+x", "/library"},   {"%2Fv%2Fabc%3Ft%3D1", "/v/abc?t=1"},  // and one that stays
  };
  for (const auto& [next, location] : cases) {
    const auto response = server.postForm(
        "/signin", visitor.cookie,
        "email=pat%40example.com&password=correct+horse+battery&csrf=" + visitor.csrf + "&next=" + next);
    EXPECT_EQ(std::pair(response->status, response->get_header_value("Location")), std::pair(303, location)) << next;
  }
}

TEST(Security, GuessingPasswordsIsSlowedPerAccountAndPerAddress) {
  TestServer server;
  server.addUser("pat@example.com");
  server.addUser("sam@example.com");
  const Visitor visitor = server.visit();
  const auto attempt = [&](const std::string& email, const std::string& password) {
    return server.postForm("/signin", visitor.cookie, "email=" + email + "&password=" + password + "&csrf=" + visitor.csrf)
        ->status;
  };
  for (int guess = 0; guess < 5; ++guess) EXPECT_EQ(attempt("pat%40example.com", "guess" + std::to_string(guess)), 401);
  // Even the right password waits now: the guesser cannot tell it was right.
  for (const char* email : {"pat%40example.com", "sam%40example.com"}) {
    EXPECT_EQ(attempt(email, "correct+horse+battery"), 429) << email;
  }
}

TEST(Security, UnauthenticatedSignInStartsAreRateLimitedPerAddress) {
  TestServer server({"--sign-in-rate", "2", "--behind-proxy"});
  // Behind a proxy the address is the one the proxy on loopback appends.
  const auto from = [](TestServer& at, const std::string& chain) {
    return startSignIn(*at.client(), "verifier", {{"X-Forwarded-For", chain}});
  };
  EXPECT_EQ(from(server, "10.0.0.1")->status, 200);
  EXPECT_EQ(from(server, "203.0.113.9, 10.0.0.1")->status, 200);
  const auto limited = from(server, "198.51.100.1, 10.0.0.1");
  EXPECT_EQ(limited->status, 429);
  EXPECT_FALSE(limited->get_header_value("Retry-After").empty());
  EXPECT_EQ(from(server, "10.0.0.2")->status, 200);
  EXPECT_EQ(rows(server, "sign_in_requests"), 3);

  TestServer direct({"--sign-in-rate", "1"});
  EXPECT_EQ(from(direct, "10.0.0.1")->status, 200);
  EXPECT_EQ(from(direct, "10.0.0.2")->status, 429) << "forged X-Forwarded-For believed";
}

// A reused refresh token revoking its family is TokenFamilies' and AccountIntegrationTest's.
TEST(Security, SigningOutOfTheBrowserEndsTheDesktopSignInItApproved) {
  TestServer server;
  const auto browser = server.webSession("pat@example.com");
  const auto desktop = server.signIn(browser);
  const auto elsewhere = server.signIn("pat@example.com");
  EXPECT_EQ(server.postForm("/signout", browser, "csrf=" + server.visit("/", browser).csrf)->status, 303);
  EXPECT_EQ(refresh(*server.client(), desktop.refreshToken)->status, 400);
  EXPECT_EQ(server.client()->Get("/api/me", bearer(desktop.accessToken))->status, 401);
  EXPECT_EQ(refresh(*server.client(), elsewhere.refreshToken)->status, 200);
}

TEST(Security, QuotasAndUnfinishedUploadsAreLimitedAndReplacedFilesDeleted) {
  TestServer server({"--quota", "1000"});
  const auto user = server.signIn();
  const auto first = server.ticket(user);
  const std::string abandoned = server.createUpload(first, 600);
  // A new upload of the same video abandons the unfinished one, file and all.
  const std::string kept = server.upload(first, std::string(600, 'a'));
  EXPECT_FALSE(std::filesystem::exists(server.uploadFile(abandoned)));
  expectTusError(server.patchUpload(abandoned, tusHeaders(first), "0", "x"), 410, "This upload has expired.");
  expectTusError(server.tusCreate(tusHeaders(server.ticket(user)), "401"), 413,
                 "This recording doesn't fit in the 1 KB your Tolvane account may hold. Delete some recordings to make "
                 "room.");
  // Uploading the video again replaces the finished file.
  const std::string replacement = server.upload(first, std::string(500, 'b'));
  EXPECT_FALSE(std::filesystem::exists(server.uploadFile(kept)));
  EXPECT_TRUE(std::filesystem::exists(server.uploadFile(replacement)));

  TestServer many({"--quota", "0"});
  const auto busy = many.signIn();
  for (int i = 0; i < 10; ++i) many.createUpload(many.ticket(busy), 10);
  const auto refused = many.tusCreate(tusHeaders(many.ticket(busy)), "10");
  expectTusError(refused, 429, "Your account already has 10 unfinished uploads. Let them finish before starting another.");
  EXPECT_EQ(refused->get_header_value("Retry-After"), "60");
}

TEST(Security, EverythingUnderTheDataFolderIsPrivateAndTheDatabaseHoldsNoKeys) {
  TestServer server;
  server.upload(server.ticket(server.signIn()), sampleMovie());
  ASSERT_TRUE(std::filesystem::exists(server.dataDirectory() / "tolvane-server.keys"));
  std::vector<std::filesystem::path> paths{server.dataDirectory()};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(server.dataDirectory())) paths.push_back(entry);
  for (const auto& path : paths) {
    struct stat status {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, S_ISDIR(status.st_mode) ? 0700u : 0600u) << path;
  }
  EXPECT_EQ(rows(server, "settings WHERE key != 'library_id'"), 0);
}

TEST(Security, UploadsThatNameOtherFilesNeverMakeTheProbeReadThem) {
  TestServer server;
  const auto user = server.signIn();
  const auto bait = server.dataDirectory().parent_path() / "bait.mp4";
  std::ofstream(bait, std::ios::binary) << sampleMovie();
  const FileDescriptor watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_GE(::inotify_add_watch(watch.get(), bait.c_str(), IN_OPEN | IN_ACCESS), 0);
  for (const auto& bytes :
       {"#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nfile://" + bait.string() + "\n#EXT-X-ENDLIST\n",
        "ffconcat version 1.0\nfile '" + bait.string() + "'\n"}) {
    const auto ticket = server.ticket(user);
    const std::string uid = ticket["uid"];
    server.upload(ticket, bytes);
    server.save(user, uid, "bait", 1);
    const auto status = parseJson(server.client()->Get("/api/stream/video/" + uid, bearer(user.accessToken))->body);
    EXPECT_EQ(status["readyToStream"], false) << bytes;
    // Nothing but a probed MP4 is ever served.
    EXPECT_EQ(server.client()->Get("/v/" + uid + "/video.mp4")->status, 404);
  }
  char events[4096];
  EXPECT_LT(::read(watch.get(), events, sizeof events), 0) << "the probe opened " << bait;
}

TEST(Security, TlsServesHttpsWithSecureCookies) {
  TempDir keys;
  const auto made = runCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                "-nodes", "-subj", "/CN=localhost", "-days", "2", "-keyout", (keys / "key.pem").string(),
                                "-out", (keys / "cert.pem").string()});
  ASSERT_EQ(made.status, 0) << made.err;
  TestServer server({"--tls-cert", (keys / "cert.pem").string(), "--tls-key", (keys / "key.pem").string()});
  httplib::SSLClient https("127.0.0.1", server.port());
  https.enable_server_certificate_verification(false);
  const auto page = https.Get("/");
  ASSERT_TRUE(page) << httplib::to_string(page.error());
  EXPECT_EQ(page->status, 200);
  EXPECT_TRUE(page->get_header_value("Set-Cookie").ends_with("; Secure")) << page->get_header_value("Set-Cookie");
  EXPECT_FALSE(server.client()->Get("/")) << "plain HTTP answered on the TLS port";
}

}  // namespace
}  // namespace tolvane::testing
