#include "kit/vault/recording_manifest.h"

#include <gtest/gtest.h>

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

RecordingManifest sampleWithEverySet() {
  auto m = sample();
  m.uploadUID = "vid_123";
  m.tusUploadURL = "https://upload.example/files/abc";
  m.uploadedBytes = 750'000;
  m.shareURL = "https://tolvane.example/s/abc";
  m.lastError = "Tolvane could not reach the service.";
  m.attemptCount = 2;
  m.nextAttemptAt = at("2026-03-05T15:00:00Z");
  m.holdUploadUntil = at("2026-03-05T14:08:39Z");
  m.recoveredFromInterruption = true;
  return m;
}

std::vector<std::string> keysInTextOrder(const std::string& text) {
  std::vector<std::string> keys;
  for (std::size_t pos = 0; (pos = text.find("\n  \"", pos)) != std::string::npos;) {
    pos += 4;
    keys.push_back(text.substr(pos, text.find('"', pos) - pos));
  }
  return keys;
}

// `sample()` encoded, with `edit` applied to the JSON before decoding. The text decoder
// and the JSON-value decoder must agree.
std::optional<RecordingManifest> decodeEdited(const std::function<void(json&)>& edit) {
  json object = json::parse(encodeManifest(sample()));
  edit(object);
  auto fromText = decodeManifest(object.dump());
  EXPECT_EQ(fromText, manifestFromJSON(object)) << object.dump();
  return fromText;
}

TEST(RecordingStateTest, RawValuesInOrderAndNothingElse) {
  std::vector<std::string> raw;
  for (auto state : allRecordingStates) {
    raw.emplace_back(rawValue(state));
    EXPECT_EQ(recordingStateFromRawValue(rawValue(state)), state);
  }
  EXPECT_EQ(raw, (std::vector<std::string>{"recording", "finalizing", "ready", "uploading", "uploaded", "verified",
                                           "needsAttention"}));
  EXPECT_FALSE(recordingStateFromRawValue("Ready"));
}

TEST(RecordingManifestTest, UploadProgressIsARatioCappedAtOne) {
  auto m = sample();
  for (auto [size, uploaded, progress] : {std::tuple{0, 10, 0.0}, {200, 50, 0.25}, {200, 500, 1.0}}) {
    m.fileSizeBytes = size;
    m.uploadedBytes = uploaded;
    EXPECT_DOUBLE_EQ(m.uploadProgress(), progress) << size << "/" << uploaded;
  }
}

TEST(ManifestJsonTest, EncodesSortedKeysWholeSecondDatesAndRoundTrips) {
  const std::string bare = encodeManifest(sample());
  EXPECT_EQ(keysInTextOrder(bare),
            (std::vector<std::string>{"attemptCount", "createdAt", "durationSec", "fileName", "fileSizeBytes",
                                      "hasCamera", "hasMicrophone", "hasSystemAudio", "id",
                                      "recoveredFromInterruption", "schemaVersion", "state", "title", "updatedAt",
                                      "uploadedBytes"}));
  EXPECT_EQ(bare.find("null"), std::string::npos);
  EXPECT_EQ(keysInTextOrder(encodeManifest(sampleWithEverySet())),
            (std::vector<std::string>{"attemptCount", "createdAt", "durationSec", "fileName", "fileSizeBytes",
                                      "hasCamera", "hasMicrophone", "hasSystemAudio", "holdUploadUntil", "id",
                                      "lastError", "nextAttemptAt", "recoveredFromInterruption", "schemaVersion",
                                      "shareURL", "state", "title", "tusUploadURL", "updatedAt", "uploadUID",
                                      "uploadedBytes"}));

  auto m = sampleWithEverySet();
  m.createdAt += std::chrono::milliseconds(789);
  const json object = json::parse(encodeManifest(m));
  EXPECT_EQ(object["createdAt"], "2026-03-05T14:07:09Z");
  EXPECT_EQ(object["holdUploadUntil"], "2026-03-05T14:08:39Z");
  EXPECT_EQ(object["state"], "ready");
  EXPECT_TRUE(object["fileSizeBytes"].is_number_integer());
  EXPECT_EQ(object["durationSec"], 12.5);

  for (const auto& each : {sample(), sampleWithEverySet()}) EXPECT_EQ(decodeManifest(encodeManifest(each)), each);
  EXPECT_EQ(decodeManifest(json::parse(bare).dump()), sample());  // any whitespace

  // Invalid UTF-8 is replaced when writing.
  m.title = "bad \xff title";
  EXPECT_EQ(decodeManifest(encodeManifest(m))->title, "bad \xEF\xBF\xBD title");
}

TEST(ManifestJsonTest, ToleratesAnotherSchemaVersionNullOptionalsAndUnknownMembers) {
  auto decoded = decodeEdited([](json& o) {
    o["schemaVersion"] = 2;
    o["shareURL"] = nullptr;
    o["nextAttemptAt"] = nullptr;
    o["durationSec"] = 3;  // a whole number of seconds is a number
    o["extra"] = json::parse(R"({"state": 5, "id": [1, {"title": null}], "deep": [[[[]]]]})");
  });
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->schemaVersion, 2);
  EXPECT_FALSE(decoded->shareURL || decoded->nextAttemptAt);
  EXPECT_EQ(decoded->durationSec, 3);
  EXPECT_NE(encodeManifest(*decoded).find("\"schemaVersion\": 2"), std::string::npos);

  // The last of duplicate keys counts, as in the JSON value.
  auto duplicated = decodeManifest("{\"title\": \"first\"," + encodeManifest(sample()).substr(1));
  ASSERT_TRUE(duplicated);
  EXPECT_EQ(duplicated->title, sample().title);
}

TEST(ManifestJsonTest, MissingOrMistypedValuesMakeItUnreadable) {
  for (const char* key : {"schemaVersion", "id", "title", "createdAt", "updatedAt", "state", "fileName", "durationSec",
                          "fileSizeBytes", "uploadedBytes", "attemptCount", "hasCamera", "hasMicrophone",
                          "hasSystemAudio", "recoveredFromInterruption"}) {
    EXPECT_FALSE(decodeEdited([&](json& o) { o.erase(key); })) << key;
    EXPECT_FALSE(decodeEdited([&](json& o) { o[key] = nullptr; })) << key;
  }
  // Not one of the seven raw strings, fractional seconds or another date layout, an optional present but
  // wrong, integers that are not integers or do not fit.
  const std::vector<std::pair<const char*, json>> cases = {
      {"state", "Ready"}, {"state", "paused"}, {"createdAt", "2026-03-05T14:07:09.123Z"},
      {"updatedAt", "2026-03-05 14:07:09"}, {"nextAttemptAt", "tomorrow"}, {"shareURL", 42},
      {"lastError", json::array()}, {"schemaVersion", "1"}, {"schemaVersion", 1.5}, {"fileSizeBytes", 12.0},
      {"fileSizeBytes", 18446744073709551615ull}, {"attemptCount", 4294967296ll}, {"durationSec", "12.5"},
      {"hasCamera", 1}, {"title", 7}, {"title", json::object()}, {"id", json::array()},
  };
  for (const auto& [key, value] : cases) {
    EXPECT_FALSE(decodeEdited([&](json& o) { o[key] = value; })) << key << " = " << value.dump();
  }
}

TEST(ManifestJsonTest, DamagedTextIsUnreadableWithoutThrowing) {
  const std::string good = encodeManifest(sample());
  for (const auto& text : {std::string(""), std::string("   "), std::string("null"), std::string("[]"),
                           std::string("\"manifest\""), good.substr(0, good.size() / 2), good + "}",
                           std::string("\x00\xff\xfe garbage \x01", 13), std::string("{\"title\": \"\xff\xfe\"}"),
                           std::string(200'000, '[')}) {
    EXPECT_FALSE(decodeManifest(text)) << text.substr(0, 40);
  }
}

}  // namespace
}  // namespace tolvane
