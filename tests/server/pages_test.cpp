// The web pages: home, library, share pages with their playable file, and sign-in.
#include <gtest/gtest.h>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PagesTest : public ::testing::Test {
 protected:
  TestServer server;
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn user = server.signIn("pat@example.com");
  httplib::Headers cookie{{"Cookie", server.webSession("pat@example.com")}};

};

TEST_F(PagesTest, HomeAndConnectPagesOfferSignInWhenSignedOut) {
  const auto anonymous = http->Get("/");
  ASSERT_EQ(anonymous->status, 200);
  EXPECT_EQ(anonymous->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_TRUE(contains(anonymous->body, "href=\"/library\""));
  EXPECT_TRUE(contains(anonymous->body, "action=\"/signin\""));
  EXPECT_TRUE(contains(http->Get("/", cookie)->body, "pat@example.com"));

  const auto connect = http->Get("/connect?request=abc");
  ASSERT_EQ(connect->status, 200);
  EXPECT_TRUE(contains(connect->body, "value=\"/connect?request=abc\""));
  EXPECT_EQ(http->Get("/connect?request=abc", cookie)->status, 404);
  EXPECT_EQ(http->Post("/connect", "request=abc", "application/x-www-form-urlencoded")->status, 401);
}

TEST_F(PagesTest, LibraryListsOnlyTheUsersRecordingsAndShareUrlsPlayWithRanges) {
  const auto ticket = server.ticket(user);
  const std::string uid = ticket["uid"];
  server.upload(ticket, sampleMovie());
  const std::string unsaved = server.ticket(user)["uid"];
  server.save(user, uid, "<script>alert(1)</script> demo", 2);

  const auto library = http->Get("/library", cookie);
  ASSERT_EQ(library->status, 200);
  EXPECT_TRUE(contains(library->body, "href=\"/v/" + uid + "\""));
  EXPECT_TRUE(contains(library->body, "&lt;script&gt;alert(1)&lt;/script&gt; demo"));
  EXPECT_FALSE(contains(library->body, "<script>"));
  EXPECT_FALSE(contains(http->Get("/library", {{"Cookie", server.webSession("someone@example.com")}})->body, uid));
  const auto anonymous = http->Get("/library");
  EXPECT_TRUE(contains(anonymous->body, "action=\"/signin\""));
  EXPECT_FALSE(contains(anonymous->body, uid));

  const auto page = http->Get(("/v/" + uid).c_str());
  ASSERT_EQ(page->status, 200);
  EXPECT_TRUE(contains(page->body, "<video"));
  const std::string path = "/v/" + uid + "/video.mp4";
  EXPECT_TRUE(contains(page->body, "src=\"" + path + "\""));
  const auto whole = http->Get(path.c_str());
  ASSERT_EQ(whole->status, 200);
  EXPECT_EQ(whole->get_header_value("Content-Type"), "video/mp4");
  EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
  EXPECT_EQ(whole->body, sampleMovie());
  const auto part = http->Get(path.c_str(), {{"Range", "bytes=100-199"}});
  ASSERT_EQ(part->status, 206);
  EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 100-199/" + std::to_string(sampleMovie().size()));
  EXPECT_EQ(part->body, sampleMovie().substr(100, 100));
  EXPECT_EQ(http->Get(path.c_str(), {{"Range", "bytes=-10"}})->body, sampleMovie().substr(sampleMovie().size() - 10));
  // Views count page visits.
  const auto listed = http->Get("/api/recordings?limit=10", bearer(user.accessToken));
  EXPECT_EQ(parseJson(listed->body)["recordings"][0]["views"], 1);

  for (const std::string& missing : {"/v/" + unsaved, "/v/" + unsaved + "/video.mp4", std::string("/v/nope"),
                                    std::string("/v/..%2f..%2fetc%2fpasswd"), std::string("/v/../../etc/passwd"),
                                    std::string("/v/00000000-0000-4000-8000-000000000000/video.mp4")}) {
    EXPECT_EQ(http->Get(missing.c_str())->status, 404) << missing;
  }
}

TEST_F(PagesTest, SignInFormRefusesBadAddressesAndForeignRedirects) {
  const auto bad = http->Post("/signin", "email=not-an-address&next=/library", "application/x-www-form-urlencoded");
  EXPECT_EQ(bad->status, 400);
  EXPECT_TRUE(contains(bad->body, "That isn&#39;t an e-mail address."));
  for (const char* next : {"%2F%2Fevil.example%2F", "https%3A%2F%2Fevil.example%2F", "%2F%5Cevil"}) {
    const auto response = http->Post("/signin", std::string("email=a%40example.com&next=") + next,
                                      "application/x-www-form-urlencoded");
    EXPECT_EQ(response->status, 303);
    EXPECT_EQ(response->get_header_value("Location"), "/library") << next;
  }
  const auto signedOut = http->Post("/signout", cookie, "", "application/x-www-form-urlencoded");
  EXPECT_EQ(signedOut->status, 303);
  EXPECT_FALSE(contains(http->Get("/", cookie)->body, "pat@example.com")) << "the session ended";
}

}  // namespace
}  // namespace tolvane::testing
