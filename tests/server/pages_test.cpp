// The web pages: home, library, share pages with their playable file, and sign-in.
#include <gtest/gtest.h>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

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
  expectPage(http->Post("/connect", "request=abc", "application/x-www-form-urlencoded"), 401, "action=\"/signin\"");
}

TEST_F(PagesTest, LibraryListsOnlyTheUsersRecordingsAndShareUrlsPlayWithRanges) {
  const auto ticket = server.ticket(user);
  const std::string uid = ticket["uid"];
  server.upload(ticket, sampleMovie());
  const std::string unsaved = server.ticket(user)["uid"];
  server.save(user, uid, "<script>alert(1)</script> demo", 2);

  const auto library = http->Get("/library", cookie);
  expectPage(library, 200, "<a href=\"/v/" + uid + "\">&lt;script&gt;alert(1)&lt;/script&gt; demo</a>");
  EXPECT_EQ(library->body.find("<script>"), std::string::npos);
  EXPECT_EQ(http->Get("/library", server.webSession("someone@example.com"))->body.find(uid), std::string::npos);
  expectPage(http->Get("/library"), 200, "action=\"/signin\"");

  const std::string path = "/v/" + uid + "/video.mp4";
  expectPage(http->Get("/v/" + uid), 200, "<video controls preload=\"metadata\" src=\"" + path + "\">");
  const auto whole = http->Get(path);
  EXPECT_EQ(whole->get_header_value("Content-Type"), "video/mp4");
  EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
  EXPECT_EQ(whole->body, sampleMovie());
  const auto part = http->Get(path, {{"Range", "bytes=100-199"}});
  ASSERT_EQ(part->status, 206);
  EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 100-199/" + std::to_string(sampleMovie().size()));
  EXPECT_EQ(part->body, sampleMovie().substr(100, 100));
  EXPECT_EQ(http->Get(path, {{"Range", "bytes=-10"}})->body, sampleMovie().substr(sampleMovie().size() - 10));
  // Views count page visits.
  const auto listed = http->Get("/api/recordings?limit=10", bearer(user.accessToken));
  EXPECT_EQ(parseJson(listed->body)["recordings"][0]["views"], 1);

  for (const std::string& missing : {"/v/" + unsaved, std::string("/v/nope")}) {
    expectPage(http->Get(missing), 404, "This recording doesn't exist or was removed.");
  }
  for (const std::string& missing : {"/v/" + unsaved + "/video.mp4", std::string("/v/nope/thumbnail.svg"),
                                     std::string("/v/..%2f..%2fetc%2fpasswd"), std::string("/v/../../etc/passwd"),
                                     std::string("/v/00000000-0000-4000-8000-000000000000/video.mp4")}) {
    EXPECT_EQ(http->Get(missing)->status, 404) << missing;
  }
}

TEST_F(PagesTest, SignInFormRefusesBadAddressesAndForeignRedirects) {
  const auto form = [&](const std::string& body) {
    return http->Post("/signin", body, "application/x-www-form-urlencoded");
  };
  expectPage(form("email=not-an-address&next=/library"), 400, "That isn&#39;t an e-mail address.");
  for (const char* next : {"%2F%2Fevil.example%2F", "https%3A%2F%2Fevil.example%2F", "%2F%5Cevil"}) {
    const auto response = form(std::string("email=a%40example.com&next=") + next);
    EXPECT_EQ(response->status, 303);
    EXPECT_EQ(response->get_header_value("Location"), "/library") << next;
  }
  const auto signedIn = form("email=a%40example.com&next=%2Fv%2Fx");
  EXPECT_EQ(signedIn->get_header_value("Location"), "/v/x");
  EXPECT_TRUE(signedIn->get_header_value("Set-Cookie").ends_with("; Path=/; Max-Age=2592000; HttpOnly; SameSite=Lax"));
  const auto signedOut = http->Post("/signout", cookie, "", "application/x-www-form-urlencoded");
  EXPECT_EQ(signedOut->status, 303);
  EXPECT_EQ(signedOut->get_header_value("Set-Cookie"), "tolvane_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
  expectPage(http->Get("/", cookie), 200, "action=\"/signin\"");
}

}  // namespace
}  // namespace tolvane::testing
