#include "kit/media/media_probe.h"

#include <gtest/gtest.h>

#include <thread>

#include "kit/media/movie_writer.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::TempDir;

// A writer released without finish() leaves the fragments it completed, as a crash does.
void writeUnfinishedMovie(const std::filesystem::path& movie, int frames) {
  MovieWriter writer(movie, 96, 64, 30, false, MovieWriter::fragmentInterval);
  writer.startSession(MediaTime::zero());
  for (int i = 0; i < frames; ++i) {
    auto frame = writer.pixelBufferPool().acquire();
    frame.fill(static_cast<std::uint8_t>(i * 5), 80, 120, 255);
    while (!writer.isReadyForMoreVideo()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    writer.append(frame, MediaTime{i * 20, 600});
  }
  // Let the encoder thread reach the end of what was queued.
  while (writer.framesWritten() < frames) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// A complete movie measures what was written: see the movie writer's tests.
TEST(ProbeDurationTest, UnreadableFilesMeasureZero) {
  TempDir dir;
  testing::writeFile(dir / "empty.mp4", "");
  testing::writeFile(dir / "noise.mp4", std::string(300'000, 'x'));
  for (const char* name : {"missing.mp4", "empty.mp4", "noise.mp4"}) EXPECT_EQ(probeDuration(dir / name), 0.0) << name;
}

TEST(ProbeDurationTest, ACutOffMovieMeasuresOnlyWhatIsThere) {
  TempDir dir;
  const auto movie = dir / "cut.mp4";
  writeUnfinishedMovie(movie, 105);  // 3.5 s appended, complete fragments up to 3 s
  const double whole = probeDuration(movie);
  EXPECT_GT(whole, 1.9);
  EXPECT_LE(whole, 3.5 + 1e-6);

  // Cut the last fragment's media data in half: its index still lists every sample.
  const auto bytes = testing::readFile(movie);
  const auto lastFragment = bytes.rfind("moof");
  ASSERT_NE(lastFragment, std::string::npos);
  const auto cutAt = lastFragment + (bytes.size() - lastFragment) / 2;
  std::filesystem::resize_file(movie, cutAt);
  const double cut = probeDuration(movie);
  EXPECT_GT(cut, 0.9);
  EXPECT_LT(cut, whole);
  const double stated = std::stod(testing::ffprobe(movie)["format"]["duration"].get<std::string>());
  EXPECT_GT(stated, cut);
}

}  // namespace
}  // namespace tolvane
