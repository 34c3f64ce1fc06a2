// The library's pictures: a frame of each saved video, made once and cached.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

// Width and height from a baseline JPEG's frame header; none when it is not a JPEG.
std::optional<std::pair<int, int>> jpegSize(const std::string& bytes) {
  if (bytes.size() < 4 || uint8_t(bytes[0]) != 0xFF || uint8_t(bytes[1]) != 0xD8) return std::nullopt;
  for (size_t at = 2; at + 9 < bytes.size();) {
    if (uint8_t(bytes[at]) != 0xFF) return std::nullopt;
    const uint8_t marker = uint8_t(bytes[at + 1]);
    const size_t length = size_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
      const int height = uint8_t(bytes[at + 5]) << 8 | uint8_t(bytes[at + 6]);
      const int width = uint8_t(bytes[at + 7]) << 8 | uint8_t(bytes[at + 8]);
      return std::pair{width, height};
    }
    at += 2 + length;
  }
  return std::nullopt;
}

TEST(ThumbnailRoute, ASavedVideoGetsAJpegFrameMadeOnceAndCached) {
  TestServer server;
  const auto http = server.client();
  const SignedIn user = server.signIn("pat@example.com");
  const auto ticket = server.ticket(user);
  const std::string uid = ticket["uid"], unsaved = server.ticket(user)["uid"];
  server.upload(ticket, sampleMovie());
  server.save(user, uid, "Demo", 2);

  const auto library = parseJson(http->Get("/api/recordings", bearer(user.accessToken))->body);
  const std::string path = "/v/" + uid + "/thumbnail.jpg";
  EXPECT_EQ(library["recordings"][0]["thumbnail"], server.url(path));

  const auto first = http->Get(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(answerOf(first, {"Content-Type", "Cache-Control"}),
            (std::vector<std::string>{"200", "image/jpeg", "public, max-age=86400"}));
  // The sample is 160 × 120: smaller than the largest thumbnail, so kept at its size.
  EXPECT_EQ(jpegSize(first->body), (std::pair{160, 120}));
  const auto cached = server.dataDirectory() / "thumbnails" / (uid + ".jpg");
  EXPECT_TRUE(std::filesystem::exists(cached));

  // Made once: the kept file is what later requests get, and a browser that has it
  // gets "not modified".
  const auto written = std::filesystem::last_write_time(cached);
  const std::string etag = first->get_header_value("ETag");
  ASSERT_FALSE(etag.empty());
  const auto again = http->Get(path);
  EXPECT_EQ(again->body, first->body);
  EXPECT_EQ(http->Get(path, {{"If-None-Match", etag}})->status, 304);
  EXPECT_EQ(std::filesystem::last_write_time(cached), written);

  for (const std::string& missing : {"/v/" + unsaved + "/thumbnail.jpg", std::string("/v/nope/thumbnail.jpg"),
                                     std::string("/v/00000000-0000-4000-8000-000000000000/thumbnail.jpg")}) {
    EXPECT_EQ(http->Get(missing)->status, 404) << missing;
  }
  // The drawn placeholder stays for videos without a playable file.
  EXPECT_EQ(http->Get("/v/" + uid + "/thumbnail.svg")->status, 200);
}

}  // namespace
}  // namespace tolvane::testing
