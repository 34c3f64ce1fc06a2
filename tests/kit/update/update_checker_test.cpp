#include "kit/update/update_checker.h"

#include <gtest/gtest.h>

#include "kit/net/http_error.h"
#include "kit/net/json_fields.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using testing::FakeHTTPTransport;

TEST(UpdateChecker, FetchesTheLatestReleaseWithoutAuthorisation) {
  auto http = std::make_shared<FakeHTTPTransport>();
  http->enqueue(200, R"({"version":"1.4.0","available":true,"downloadUrl":"https://d","pageUrl":"https://p"})");
  UpdateChecker checker(http, *Url::parse("https://tolvane.test/"));
  EXPECT_EQ(checker.latest(), (DesktopRelease{"1.4.0", true, "https://d", "https://p"}));
  const auto request = http->lastRequest();
  EXPECT_EQ(request.url, "https://tolvane.test/api/linux/latest");
  EXPECT_EQ(request.method, "GET");
  EXPECT_TRUE(request.headers.empty());

  http->enqueue(404, R"({"error":"nope"})");
  EXPECT_EQ(testing::httpFailure([&] { checker.latest(); }), "404 Couldn't check for updates.");
  http->enqueue(200, R"({"version":"1.4.0"})");
  EXPECT_THROW(checker.latest(), DecodingError);
}

TEST(DesktopRelease, IsNewerComparesNumbersPositionByPosition) {
  const auto release = [](std::string version) { return DesktopRelease{std::move(version), true, "", ""}; };
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"2.0", "1.9.9", true},     {"1.10", "1.9", true},  {"1.2.0", "1.2", false}, {"1.2", "1.2.1", false},
      {"1.2.beta", "1.2.0", false}, {"1..3", "1.2", true}, {"1.+3", "1.2", true},  {"1.-3", "1.0", false}};
  for (const auto& [latest, running, newer] : cases) EXPECT_EQ(release(latest).isNewer(running), newer) << latest;
}

}  // namespace
}  // namespace tolvane
