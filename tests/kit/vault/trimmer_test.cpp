#include "kit/vault/trimmer.h"

#include <gtest/gtest.h>

#include "kit/media/media_probe.h"
#include "kit/vault/recording_vault.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

// The hash of the first video frame a player shows, optionally after seeking.
std::string firstFrameHash(const fs::path& movie, const char* seek = nullptr) {
  std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
  if (seek != nullptr) argv.insert(argv.end(), {"-ss", seek});
  argv.insert(argv.end(), {"-i", movie.string(), "-an", "-frames:v", "1", "-f", "framemd5", "-"});
  const auto out = testing::runCommand(argv).out;
  return out.substr(out.rfind(',') + 1);
}

// Runs `trim` and checks that it fails with this kind and this sentence for the user.
void expectTrimError(const std::function<void()>& trim, Trimmer::TrimError::Kind kind, const char* text) {
  try {
    trim();
    ADD_FAILURE() << "expected: " << text;
  } catch (const Trimmer::TrimError& e) {
    EXPECT_EQ(e.kind(), kind);
    EXPECT_STREQ(e.what(), text);
  }
}

class TrimmerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    item_ = vault_.createRecording("Clip", false, false, false);
    testing::writeTestMovie(item_.videoPath(), 4.5, 96, 64, true);
  }

  testing::TempDir dir_;
  RecordingVault vault_{dir_ / "vault"};
  VaultItem item_;
};

TEST_F(TrimmerTest, KeepsTheRangeWithoutReencodingAndMeasuresTheResult) {
  const auto result = Trimmer::trim(item_, 1.0, 3.0);
  const auto output = item_.directory / "recording-trimmed.mp4";
  EXPECT_NEAR(result.duration, 2.0, 0.05);
  EXPECT_NEAR(probeDuration(output), 2.0, 0.05);
  EXPECT_EQ(testing::ffprobeStream(output, "video")["codec_name"], "h264");
  EXPECT_FALSE(testing::ffprobeStream(output, "audio").is_null());
  EXPECT_EQ(testing::decodeErrors(output), "");
  // The index comes before the media data.
  const auto bytes = testing::readFile(output);
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
  // Playback starts at the requested time, not at the key frame before it.
  EXPECT_EQ(firstFrameHash(output), firstFrameHash(item_.videoPath(), "1.0"));
  EXPECT_NE(firstFrameHash(output), firstFrameHash(item_.videoPath()));
}

// Trimming a trimmed recording keeps its source until the new cut is good; an
// unreadable movie is refused.
TEST_F(TrimmerTest, ACutThatFailsKeepsItsSourceWhole) {
  Trimmer::trim(item_, 0.5, 4.0);
  auto trimmed = *vault_.update(item_.id(), [](RecordingManifest& m) { m.fileName = "recording-trimmed.mp4"; });
  // Exactly half a second, the shortest range (shorter ones: LibraryTest).
  EXPECT_NEAR(Trimmer::trim(trimmed, 1.0, 1.5).duration, 0.5, 0.05);
  EXPECT_NEAR(probeDuration(trimmed.videoPath()), 0.5, 0.05);

  expectTrimError([&] { Trimmer::trim(trimmed, 10.0, 12.0); }, Trimmer::TrimError::Kind::exportFailed,
                  "Trimming failed: the trimmed file wouldn't open");
  EXPECT_NEAR(probeDuration(trimmed.videoPath()), 0.5, 0.05);
  for (const auto& entry : fs::directory_iterator(item_.directory)) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "stray file " << entry.path();
  }

  testing::writeFile(item_.videoPath(), std::string(100'000, 'z'));
  expectTrimError([&] { Trimmer::trim(item_, 0.0, 2.0); }, Trimmer::TrimError::Kind::unreadable,
                  "Tolvane couldn't read that recording to trim it.");
}

}  // namespace
}  // namespace tolvane
