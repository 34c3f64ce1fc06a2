#include "kit/net/http_error.h"

#include <gtest/gtest.h>

#include "kit/net/json_fields.h"

namespace tolvane {
namespace {

TEST(HTTPError, TransientStatuses) {
  for (std::int64_t status : {0, 408, 429, 500, 503, 599}) {
    EXPECT_TRUE(HTTPError(status, "x").isTransient()) << status;
  }
  for (std::int64_t status : {200, 400, 401, 403, 404, 410, 413, 499, 600}) {
    EXPECT_FALSE(HTTPError(status, "x").isTransient()) << status;
  }
}

TEST(HTTPError, ErrorBodiesGiveTheMessageAndCodeOrTheFixedMessage) {
  // A member of the wrong type makes the whole body unreadable, code included.
  const std::tuple<std::int64_t, const char*, const char*, std::optional<std::string>> cases[] = {
      {404, R"({"ok":false,"error":"No such video.","code":"video_missing"})", "No such video.", "video_missing"},
      {403, R"({"code":"plan_limit"})", "Tolvane returned an error (403).", "plan_limit"},
      {500, "", "Tolvane returned an error (500).", std::nullopt},
      {400, R"({"error":42,"code":"bad"})", "Tolvane returned an error (400).", std::nullopt},
  };
  for (const auto& [status, body, message, code] : cases) {
    const auto parsed = HTTPError::fromResponse(status, body);
    EXPECT_EQ(parsed.status(), status);
    EXPECT_STREQ(parsed.what(), message) << body;
    EXPECT_EQ(parsed.code(), code) << body;
  }
}

TEST(JSONFields, StrictTypes) {
  const auto object = json::parseObject(R"({"f":12.0,"half":12.5,"null":null})");
  EXPECT_EQ(json::requireInt64(object, "f"), 12);
  EXPECT_THROW(json::requireInt64(object, "half"), DecodingError);
  EXPECT_THROW(json::requireString(object, "null"), DecodingError);
  EXPECT_FALSE(json::optionalString(object, "null"));
}

}  // namespace
}  // namespace tolvane
