#include "kit/upload/http_error.h"

#include <gtest/gtest.h>

#include "kit/upload/json_fields.h"

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

TEST(HTTPError, WhatIsTheMessage) {
  const HTTPError error(404, "Recording not found.", "not_found");
  EXPECT_STREQ(error.what(), "Recording not found.");
  EXPECT_EQ(error.message(), "Recording not found.");
}

TEST(HTTPError, ErrorBodyWithTextAndCodeIsUsedVerbatim) {
  const auto error = HTTPError::fromResponse(404, R"({"ok":false,"error":"No such video.","code":"video_missing"})");
  EXPECT_EQ(error.status(), 404);
  EXPECT_EQ(error.message(), "No such video.");
  EXPECT_EQ(error.code(), "video_missing");
}

TEST(HTTPError, ErrorBodyWithOnlyACodeGetsTheFixedMessage) {
  const auto error = HTTPError::fromResponse(403, R"({"code":"plan_limit"})");
  EXPECT_EQ(error.message(), "Tolvane returned an error (403).");
  EXPECT_EQ(error.code(), "plan_limit");
}

TEST(HTTPError, UnreadableErrorBodiesGetTheFixedMessageAndNoCode) {
  const auto empty = HTTPError::fromResponse(500, "");
  EXPECT_EQ(empty.message(), "Tolvane returned an error (500).");
  EXPECT_FALSE(empty.code());
  EXPECT_TRUE(empty.isTransient());

  EXPECT_EQ(HTTPError::fromResponse(502, "<html>Bad gateway</html>").message(), "Tolvane returned an error (502).");
  EXPECT_FALSE(HTTPError::fromResponse(400, R"(["error"])").code());
  // A member of the wrong type makes the whole body unreadable, code included.
  const auto wrongType = HTTPError::fromResponse(400, R"({"error":42,"code":"bad"})");
  EXPECT_EQ(wrongType.message(), "Tolvane returned an error (400).");
  EXPECT_FALSE(wrongType.code());
}

TEST(JSONFields, StrictTypes) {
  const auto object = json::parseObject(R"({"n":12,"f":12.0,"half":12.5,"s":"x","b":true,"null":null})");
  EXPECT_EQ(json::requireInt64(object, "n"), 12);
  EXPECT_EQ(json::requireInt64(object, "f"), 12);
  EXPECT_THROW(json::requireInt64(object, "half"), DecodingError);
  EXPECT_THROW(json::requireInt64(object, "s"), DecodingError);
  EXPECT_THROW(json::requireString(object, "n"), DecodingError);
  EXPECT_THROW(json::requireBool(object, "n"), DecodingError);
  EXPECT_THROW(json::requireString(object, "missing"), DecodingError);
  EXPECT_THROW(json::requireString(object, "null"), DecodingError);
  EXPECT_FALSE(json::optionalString(object, "null"));
  EXPECT_FALSE(json::optionalString(object, "missing"));
  EXPECT_THROW(json::optionalString(object, "b"), DecodingError);
  EXPECT_THROW(json::parseObject("[1]"), DecodingError);
  EXPECT_THROW(json::parseObject("{"), DecodingError);
  EXPECT_THROW(json::requireInt64(json::parseObject(R"({"big":9223372036854775808})"), "big"), DecodingError);
}

}  // namespace
}  // namespace tolvane
