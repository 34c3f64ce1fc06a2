#include "app/services/library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "tests/kit/media/movie_judge.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

auto says(const std::string& sentence) { return ::testing::ThrowsMessage<std::exception>(sentence); }

class LibraryTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::shared_ptr<RecordingVault> vault = std::make_shared<RecordingVault>(dir / "vault");
  Library library{vault, nullptr};
};

TEST_F(LibraryTest, FindsByIdOrUniquePrefixIgnoringCase) {
  // Seventeen ids over sixteen leading hex digits: two share their first character.
  std::map<char, std::string> firstWith;
  std::string id, shared;
  while (shared.empty()) {
    id = vault->createRecording("R", false, false, false).id();
    if (!firstWith.emplace(id[0], id).second) shared = id.substr(0, 1);
  }
  std::string lower = id.substr(0, 12);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });

  EXPECT_EQ(library.find(id).id(), id);
  EXPECT_EQ(library.find(lower).id(), id);
  EXPECT_THAT([&] { library.find(shared); }, says("The id " + shared + " matches 2 recordings; give more of it."));
  EXPECT_THAT([&] { library.find("Z"); }, says("No recording has the id Z."));
}

TEST_F(LibraryTest, TrimPointsTheManifestAtTheNewFileUnlessTheRecordingStartedUploading) {
  const auto item = vault->createRecording("Clip", false, false, false);
  testing::writeTestMovie(item.videoPath(), 3.0);
  vault->update(item.id(), [](RecordingManifest& m) {
    m.state = RecordingState::ready;
    m.holdUploadUntil = std::chrono::system_clock::now() + std::chrono::hours(1);
  });

  {
    const auto recording = RecordingLock::tryAcquire(item.directory);  // still being recorded
    EXPECT_THAT([&] { library.trim(item.id(), 0.5, 2); }, says("Tolvane is still writing that recording (it is being "
                                                               "recorded or trimmed), so it can't be trimmed yet."));
  }
  // A cut too short, and that a failed trim releases the hold, go through the review in
  // tests/app/core/app_model_test.

  const auto result = library.trim(item.id(), 0.5, 2);
  const auto manifest = vault->item(item.id())->manifest;
  EXPECT_EQ(manifest.fileName, "recording-trimmed.mp4");
  EXPECT_NEAR(manifest.durationSec, 1.5, 0.05);
  EXPECT_EQ(manifest.durationSec, result.duration);
  EXPECT_FALSE(manifest.holdUploadUntil);
  EXPECT_TRUE(std::filesystem::exists(item.directory / "recording.mp4"));  // the original stays

  const auto sent = vault->createRecording("Sent", false, false, false);
  testing::writeTestMovie(sent.videoPath(), 2.0);
  vault->update(sent.id(), [](RecordingManifest& m) { m.uploadedBytes = 1; });
  EXPECT_THAT([&] { library.trim(sent.id(), 0, 1); }, says("That recording has started uploading, so it can't be trimmed."));
  EXPECT_EQ(vault->item(sent.id())->manifest.fileName, "recording.mp4");
  EXPECT_FALSE(vault->item(sent.id())->manifest.holdUploadUntil);
}

}  // namespace
}  // namespace tolvane
