// The web pages: home, library, share pages with their playable file, and sign-in.
#include <gtest/gtest.h>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

using Strings = std::vector<std::string>;

class PagesTest : public ::testing::Test {
 protected:
  TestServer server;
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn user = server.signIn("pat@example.com");
  httplib::Headers cookie = server.webSession("pat@example.com");
};

TEST_F(PagesTest, HomeAndConnectPagesOfferSignInWhenSignedOut) {
  const auto anonymous = http->Get("/");
  expectPage(anonymous, 200, "action=\"/signin\"");
  EXPECT_EQ(anonymous->get_header_value("Content-Type"), "text/html; charset=utf-8");
  expectPage(http->Get("/", cookie), 200, "Signed in as pat@example.com.");
  expectPage(http->Get("/connect?request=abc"), 200, "value=\"/connect?request=abc\"");
  expectPage(http->Get("/connect?request=abc", cookie), 404, "Unknown sign-in link");
  expectPage(server.postForm("/connect", {}, "request=abc"), 401, "action=\"/signin\"");
  expectPage(http->Get("/help/linux-permissions"), 200, "id=\"camera\"");  // the desktop app links here
}

TEST_F(PagesTest, LibraryListsOnlyTheUsersRecordingsAndShareUrlsPlayWithRanges) {
  const auto ticket = server.ticket(user);
  const std::string uid = ticket["uid"], unsaved = server.ticket(user)["uid"];
  server.upload(ticket, sampleMovie());
  server.save(user, uid, "<script>alert(1)</script> demo", 2);

  const auto library = http->Get("/library", cookie);
  expectPage(library, 200, "<a href=\"/v/" + uid + "\">&lt;script&gt;alert(1)&lt;/script&gt; demo</a>");
  EXPECT_EQ(library->body.find("<script>"), std::string::npos);
  EXPECT_EQ(http->Get("/library", server.webSession("someone@example.com"))->body.find(uid), std::string::npos);
  expectPage(http->Get("/library"), 200, "action=\"/signin\"");

  const std::string path = "/v/" + uid + "/video.mp4", size = std::to_string(sampleMovie().size());
  expectPage(http->Get("/v/" + uid), 200, "<video controls preload=\"metadata\" src=\"" + path + "\">");
  const auto whole = http->Get(path);
  EXPECT_EQ(answerOf(whole, {"Content-Type", "X-Content-Type-Options", "Accept-Ranges"}),
            (Strings{"200", "video/mp4", "nosniff", "bytes"}));
  EXPECT_EQ(whole->body, sampleMovie());
  const auto part = http->Get(path, {{"Range", "bytes=100-199"}});
  EXPECT_EQ(answerOf(part, {"Content-Range"}), (Strings{"206", "bytes 100-199/" + size}));
  EXPECT_EQ(part->body, sampleMovie().substr(100, 100));
  // Views count page visits.
  EXPECT_EQ(parseJson(http->Get("/api/recordings", bearer(user.accessToken))->body)["recordings"][0]["views"], 1);

  for (const std::string& missing : {"/v/" + unsaved, std::string("/v/nope")}) {
    expectPage(http->Get(missing), 404, "This recording doesn't exist or was removed.");
  }
  for (const std::string& missing : {"/v/" + unsaved + "/video.mp4", std::string("/v/..%2f..%2fetc%2fpasswd")}) {
    EXPECT_EQ(http->Get(missing)->status, 404) << missing;
  }
}

TEST_F(PagesTest, SignInTakesThePasswordAndSignOutEndsTheSession) {
  const Visitor visitor = server.visit();
  const auto form = [&](const std::string& fields) {
    return server.postForm("/signin", visitor.cookie, fields + "&csrf=" + visitor.csrf);
  };
  for (const char* email : {"pat", "nobody"}) {
    expectPage(form("email=" + std::string(email) + "%40example.com&password=wrong-password"), 401,
               "That e-mail address and password don&#39;t match an account.");
  }
  expectPage(form("email=pat%40example.com&password=x&action=create"), 403,
             "This server doesn&#39;t let visitors create accounts.");
  const auto signedIn = form("email=PAT%40example.com&password=correct+horse+battery&next=%2Fv%2Fx");
  EXPECT_EQ(answerOf(signedIn, {"Location"}), (Strings{"303", "/v/x"}));
  EXPECT_TRUE(signedIn->get_header_value("Set-Cookie").ends_with("; Path=/; Max-Age=2592000; HttpOnly; SameSite=Lax"));
  const auto signedOut = server.postForm("/signout", cookie, "csrf=" + server.visit("/", cookie).csrf);
  EXPECT_EQ(answerOf(signedOut, {"Set-Cookie"}),
            (Strings{"303", "tolvane_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax"}));
  expectPage(http->Get("/", cookie), 200, "action=\"/signin\"");
}

TEST(OpenRegistration, VisitorsCreateAccountsWithAPasswordOfEightCharacters) {
  TestServer server({"--open-registration"});
  const Visitor visitor = server.visit();
  const auto create = [&](const std::string& fields) {
    return server.postForm("/signin", visitor.cookie, fields + "&action=create&csrf=" + visitor.csrf);
  };
  expectPage(create("email=new%40example.com&password=short"), 400, "A password needs at least 8 characters.");
  expectPage(create("email=not-an-address&password=long+enough"), 400, "That isn&#39;t an e-mail address.");
  EXPECT_EQ(create("email=new%40example.com&password=long+enough")->status, 303);
  expectPage(create("email=NEW%40example.com&password=long+enough"), 400,
             "An account with that e-mail address already exists.");
}

}  // namespace
}  // namespace tolvane::testing
