#include "kit/vault/recording_manifest.h"

#include <gtest/gtest.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "kit/vault/manifest_json.h"

namespace tolvane {
namespace {

using nlohmann::json;

Date at(const char* iso) { return *parseISO8601(iso); }

RecordingManifest sample() {
  return RecordingManifest::make("1F3A9C2B-7D41-4E0A-9B8C-2D5E6F708192", "Recording — Mar 5, 2:07 PM",
                                 at("2026-03-05T14:07:09Z"), RecordingState::ready, "recording.mp4", 12.5, 1'500'000,
                                 true, false, true);
}

// `sample()` encoded, with `edit` applied to the JSON before decoding.
std::optional<RecordingManifest> decodeEdited(const std::function<void(json&)>& edit) {
  json object = json::parse(encodeManifest(sample()));
  edit(object);
  return decodeManifest(object.dump());
}

TEST(ManifestJsonTest, WritesWholeSecondDatesNoNullsAndRoundTrips) {
  auto m = sample();
  m.uploadUID = "vid_123";
  m.tusUploadURL = "https://upload.example/files/abc";
  m.uploadedBytes = 750'000;
  m.shareURL = "https://tolvane.example/s/abc";
  m.lastError = "Tolvane could not reach the service.";
  m.notice = "This recording has no sound from this computer.";
  m.attemptCount = 2;
  m.nextAttemptAt = at("2026-03-05T15:00:00Z");
  m.holdUploadUntil = at("2026-03-05T14:08:39Z");
  m.recoveredFromInterruption = true;
  std::string written;  // the states as manifests on disk spell them
  for (auto state : allRecordingStates) {
    m.state = state;
    written += json::parse(encodeManifest(m))["state"].get<std::string>() + " ";
    EXPECT_EQ(decodeManifest(encodeManifest(m)), m) << rawValue(state);
  }
  EXPECT_EQ(written, "recording finalizing ready uploading uploaded verified needsAttention ");

  m.createdAt += std::chrono::milliseconds(789);
  m.title = "bad \xff title";  // invalid UTF-8 is replaced when writing
  const json object = json::parse(encodeManifest(m));
  EXPECT_EQ(object["createdAt"], "2026-03-05T14:07:09Z");
  EXPECT_TRUE(object["fileSizeBytes"].is_number_integer());
  EXPECT_EQ(object["title"], "bad \xEF\xBF\xBD title");
  EXPECT_EQ(json::parse(encodeManifest(sample())).size(), 15u);  // unset optionals are left out, not null
}

// Another schema version: RecordingVaultTest.UpdateStampsTimeAndSize...
TEST(ManifestJsonTest, ToleratesNullOptionalsAndUnknownMembers) {
  auto decoded = decodeEdited([](json& o) {
    o["shareURL"] = nullptr;
    o["durationSec"] = 3;  // a whole number of seconds is a number
    o["extra"] = json::parse(R"({"state": 5, "id": [1, {"title": null}], "deep": [[[[]]]]})");
  });
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->shareURL);
  EXPECT_EQ(decoded->durationSec, 3);
}

TEST(ManifestJsonTest, MissingMistypedOrDamagedInputIsUnreadableWithoutThrowing) {
  for (const char* key :
       {"schemaVersion", "id", "title", "createdAt", "updatedAt", "state", "fileName", "durationSec", "fileSizeBytes",
        "uploadedBytes", "attemptCount", "hasCamera", "hasMicrophone", "hasSystemAudio", "recoveredFromInterruption"}) {
    EXPECT_FALSE(decodeEdited([&](json& o) { o.erase(key); })) << key;
    EXPECT_FALSE(decodeEdited([&](json& o) { o[key] = nullptr; })) << key;
  }
  const std::vector<std::pair<const char*, json>> cases = {
      {"state", "Ready"}, {"state", "paused"}, {"createdAt", "2026-03-05T14:07:09.123Z"},
      {"updatedAt", "2026-03-05 14:07:09"}, {"nextAttemptAt", "tomorrow"}, {"shareURL", 42},
      {"lastError", json::array()}, {"notice", 7}, {"schemaVersion", "1"}, {"schemaVersion", 1.5}, {"fileSizeBytes", 12.0},
      {"fileSizeBytes", 18446744073709551615ull}, {"attemptCount", 4294967296ll}, {"durationSec", "12.5"},
      {"hasCamera", 1}, {"title", json::object()},
      // The movie is a plain name inside the recording's folder, never a path to act on.
      {"fileName", "/home/user/.ssh/id_rsa"}, {"fileName", "../other/recording.mp4"}, {"fileName", ".."},
      {"fileName", "sub/clip.mp4"}, {"fileName", ""}, {"fileName", std::string("clip\0.mp4", 9)},
  };
  for (const auto& [key, value] : cases) {
    EXPECT_FALSE(decodeEdited([&](json& o) { o[key] = value; })) << key << " = " << value.dump();
  }
  const std::string good = encodeManifest(sample());
  for (const auto& text : {std::string(""), std::string("null"), std::string("[]"), good.substr(0, good.size() / 2),
                           good + "}", std::string("\x00\xff\xfe garbage \x01", 13),
                           std::string("{\"title\": \"\xff\xfe\"}"), std::string(200'000, '[')}) {
    EXPECT_FALSE(decodeManifest(text)) << text.substr(0, 40);
  }
}

}  // namespace
}  // namespace tolvane
