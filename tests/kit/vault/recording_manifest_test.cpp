#include "kit/vault/recording_manifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kit/vault/manifest_json.h"
#include "kit/vault/vault_item.h"
#include "tests/support/temp_dir.h"

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
  std::size_t pos = 0;
  while ((pos = text.find("\n  \"", pos)) != std::string::npos) {
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

TEST(RecordingStateTest, RawValuesOrderAndPredicates) {
  std::vector<std::string> raw;
  for (auto state : allRecordingStates) raw.emplace_back(rawValue(state));
  EXPECT_EQ(raw, (std::vector<std::string>{"recording", "finalizing", "ready", "uploading", "uploaded", "verified",
                                           "needsAttention"}));
  for (auto state : allRecordingStates) EXPECT_EQ(recordingStateFromRawValue(rawValue(state)), state);
  EXPECT_FALSE(recordingStateFromRawValue("Ready"));
  EXPECT_FALSE(recordingStateFromRawValue(""));

  using S = RecordingState;
  for (auto state : allRecordingStates) {
    EXPECT_EQ(isUploadPending(state), state == S::ready || state == S::uploading || state == S::needsAttention);
    EXPECT_EQ(isTerminalSuccess(state), state == S::verified);
    EXPECT_EQ(wasInterrupted(state), state == S::recording || state == S::finalizing);
  }
}

TEST(RecordingManifestTest, MakeFillsTheInitialValues) {
  const auto m = sample();
  EXPECT_EQ(m.schemaVersion, 1);
  EXPECT_EQ(m.updatedAt, m.createdAt);
  EXPECT_EQ(m.uploadedBytes, 0);
  EXPECT_EQ(m.attemptCount, 0);
  EXPECT_FALSE(m.uploadUID || m.tusUploadURL || m.shareURL || m.lastError || m.nextAttemptAt || m.holdUploadUntil);
  EXPECT_FALSE(m.recoveredFromInterruption);
}

TEST(RecordingManifestTest, UploadProgressIsARatioCappedAtOne) {
  auto m = sample();
  m.fileSizeBytes = 0;
  m.uploadedBytes = 10;
  EXPECT_EQ(m.uploadProgress(), 0.0);
  m.fileSizeBytes = 200;
  m.uploadedBytes = 50;
  EXPECT_DOUBLE_EQ(m.uploadProgress(), 0.25);
  m.uploadedBytes = 500;
  EXPECT_EQ(m.uploadProgress(), 1.0);
}

TEST(ManifestJsonTest, EncodesSortedPrettyKeysAndLeavesOutEmptyOptionals) {
  const std::string bare = encodeManifest(sample());
  EXPECT_EQ(keysInTextOrder(bare),
            (std::vector<std::string>{"attemptCount", "createdAt", "durationSec", "fileName", "fileSizeBytes",
                                      "hasCamera", "hasMicrophone", "hasSystemAudio", "id",
                                      "recoveredFromInterruption", "schemaVersion", "state", "title", "updatedAt",
                                      "uploadedBytes"}));
  EXPECT_EQ(bare.find("null"), std::string::npos);

  const std::string full = encodeManifest(sampleWithEverySet());
  EXPECT_EQ(keysInTextOrder(full),
            (std::vector<std::string>{"attemptCount", "createdAt", "durationSec", "fileName", "fileSizeBytes",
                                      "hasCamera", "hasMicrophone", "hasSystemAudio", "holdUploadUntil", "id",
                                      "lastError", "nextAttemptAt", "recoveredFromInterruption", "schemaVersion",
                                      "shareURL", "state", "title", "tusUploadURL", "updatedAt", "uploadUID",
                                      "uploadedBytes"}));
}

TEST(ManifestJsonTest, WritesTypesAndWholeSecondUtcDates) {
  auto m = sampleWithEverySet();
  m.createdAt += std::chrono::milliseconds(789);
  const json object = json::parse(encodeManifest(m));
  EXPECT_EQ(object["createdAt"], "2026-03-05T14:07:09Z");
  EXPECT_EQ(object["holdUploadUntil"], "2026-03-05T14:08:39Z");
  EXPECT_EQ(object["state"], "ready");
  EXPECT_TRUE(object["fileSizeBytes"].is_number_integer());
  EXPECT_TRUE(object["attemptCount"].is_number_integer());
  EXPECT_EQ(object["durationSec"], 12.5);
  EXPECT_EQ(object["hasMicrophone"], false);
  EXPECT_EQ(object["title"], "Recording — Mar 5, 2:07 PM");
}

TEST(ManifestJsonTest, RoundTripsEveryField) {
  for (const auto& m : {sample(), sampleWithEverySet()}) EXPECT_EQ(decodeManifest(encodeManifest(m)), m);
  // Any whitespace is accepted.
  EXPECT_EQ(decodeManifest(json::parse(encodeManifest(sample())).dump()), sample());
}

TEST(ManifestJsonTest, KeepsAnotherSchemaVersionAndIgnoresUnknownKeys) {
  auto decoded = decodeEdited([](json& o) {
    o["schemaVersion"] = 2;
    o["futureField"] = {{"x", 1}};
  });
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->schemaVersion, 2);
  EXPECT_NE(encodeManifest(*decoded).find("\"schemaVersion\": 2"), std::string::npos);
}

TEST(ManifestJsonTest, NullOptionalsReadAsNone) {
  auto decoded = decodeEdited([](json& o) {
    o["shareURL"] = nullptr;
    o["nextAttemptAt"] = nullptr;
  });
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->shareURL);
  EXPECT_FALSE(decoded->nextAttemptAt);
}

TEST(ManifestJsonTest, AnyMissingRequiredKeyMakesItUnreadable) {
  for (const char* key : {"schemaVersion", "id", "title", "createdAt", "updatedAt", "state", "fileName", "durationSec",
                          "fileSizeBytes", "uploadedBytes", "attemptCount", "hasCamera", "hasMicrophone",
                          "hasSystemAudio", "recoveredFromInterruption"}) {
    EXPECT_FALSE(decodeEdited([&](json& o) { o.erase(key); })) << key;
    EXPECT_FALSE(decodeEdited([&](json& o) { o[key] = nullptr; })) << key;
  }
}

TEST(ManifestJsonTest, MistypedValuesMakeItUnreadable) {
  const std::vector<std::pair<const char*, json>> cases = {
      {"state", "Ready"},                        // not one of the seven raw strings
      {"state", "paused"},
      {"createdAt", "2026-03-05T14:07:09.123Z"}, // fractional seconds
      {"updatedAt", "2026-03-05 14:07:09"},      // another layout
      {"nextAttemptAt", "tomorrow"},             // an optional, present but wrong
      {"shareURL", 42},
      {"schemaVersion", "1"},
      {"schemaVersion", 1.5},
      {"fileSizeBytes", 12.0},                   // integers must be integers
      {"fileSizeBytes", 18446744073709551615ull},
      {"attemptCount", 4294967296ll},
      {"durationSec", "12.5"},
      {"hasCamera", 1},
      {"title", 7},
      {"id", json::array()},
  };
  for (const auto& [key, value] : cases) {
    EXPECT_FALSE(decodeEdited([&](json& o) { o[key] = value; })) << key << " = " << value.dump();
  }
  EXPECT_TRUE(decodeEdited([](json& o) { o["durationSec"] = 3; }));  // a whole number of seconds is a number
}

TEST(ManifestJsonTest, UnknownMembersMayHoldAnything) {
  auto decoded = decodeEdited([](json& o) {
    o["extra"] = json::parse(R"({"state": 5, "id": [1, {"title": null}], "deep": [[[[]]]]})");
    o["zzz"] = json::array({1, "two", nullptr});
  });
  EXPECT_EQ(decoded, sample());
  EXPECT_FALSE(decodeEdited([](json& o) { o["title"] = json::object(); }));
  EXPECT_FALSE(decodeEdited([](json& o) { o["lastError"] = json::array(); }));
  // The last of duplicate keys counts, as in the JSON value.
  const std::string text = encodeManifest(sample());
  auto duplicated = decodeManifest("{\"title\": \"first\"," + text.substr(1));
  ASSERT_TRUE(duplicated);
  EXPECT_EQ(duplicated->title, sample().title);
}

TEST(ManifestJsonTest, DamagedTextIsUnreadableWithoutThrowing) {
  const std::string good = encodeManifest(sample());
  const std::string cases[] = {
      "",
      "   ",
      "null",
      "[]",
      "\"manifest\"",
      good.substr(0, good.size() / 2),
      good + "}",
      std::string("\x00\xff\xfe garbage \x01", 13),
      "{\"title\": \"\xff\xfe\"}",
      std::string(200'000, '['),
  };
  for (const auto& text : cases) EXPECT_FALSE(decodeManifest(text)) << text.substr(0, 40);
}

TEST(ManifestJsonTest, InvalidUtf8IsReplacedWhenWriting) {
  auto m = sample();
  m.title = "bad \xff title";
  auto decoded = decodeManifest(encodeManifest(m));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->title, "bad \xEF\xBF\xBD title");
}

TEST(VaultItemTest, PathsAndVideoOnDisk) {
  testing::TempDir dir;
  VaultItem item{dir.path(), sample()};
  EXPECT_EQ(item.id(), sample().id);
  EXPECT_EQ(item.videoURL(), dir / "recording.mp4");
  EXPECT_EQ(item.manifestURL(), dir / "manifest.json");
  EXPECT_EQ(item.backupManifestURL(), dir / "manifest.backup.json");
  EXPECT_EQ(item.thumbnailURL(), dir / "thumbnail.jpg");

  testing::writeFile(item.videoURL(), std::string(1234, 'x'));
  EXPECT_TRUE(item.videoExists());
  EXPECT_EQ(item.videoSizeOnDisk(), 1234);
  std::filesystem::remove(item.videoURL());
  EXPECT_FALSE(item.videoExists());
  EXPECT_EQ(item.videoSizeOnDisk(), 0);
}

}  // namespace
}  // namespace tolvane
