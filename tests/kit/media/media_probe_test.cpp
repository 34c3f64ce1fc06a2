#include "kit/media/media_probe.h"

#include <gtest/gtest.h>

#include <random>

#include "kit/base/process_io.h"
#include "kit/media/fragmented_movie_header.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::TempDir;

// Where the last video frame ffmpeg can decode ends (30 fps).
double decodedVideoSeconds(const std::filesystem::path& movie) {
  const auto result = testing::runCommand({"ffprobe", "-v", "quiet", "-select_streams", "v:0", "-show_entries",
                                           "frame=pts_time", "-of", "csv=p=0", movie.string()});
  const auto last = result.out.find_last_not_of("\n");
  return std::stod(result.out.substr(result.out.rfind('\n', last) + 1)) + 1.0 / 30;
}

// A finished movie measures what was written (the movie writer's tests), and a trimmed
// regular MP4 what was kept (the trimmer's); missing and empty files nothing (recovery's).
TEST(ProbeDurationTest, ACutOffMovieMeasuresWhatDecodesReadingOnlyItsHeaders) {
  TempDir dir;
  const auto movie = dir / "cut.mp4";
  testing::writeTestMovie(movie, 3.5, 320, 240, true, false);  // complete fragments up to 3 s
  // Cut the last fragment's media data in half: its header still lists every sample.
  const auto bytes = testing::readFile(movie);
  const auto lastFragment = bytes.rfind("moof");
  ASSERT_NE(lastFragment, std::string::npos);
  std::filesystem::resize_file(movie, lastFragment + (bytes.size() - lastFragment) / 2);

  const auto before = processReadBytes();
  const double cut = probeDuration(movie);
  const auto after = processReadBytes();
  ASSERT_TRUE(before && after);
  EXPECT_LT(*after - *before, std::filesystem::file_size(movie) / 10);
  EXPECT_NEAR(cut, decodedVideoSeconds(movie), 1.0);
  EXPECT_GT(cut, 2.0);
  EXPECT_LT(cut, 3.5);
}

TEST(ProbeDurationTest, TheStatedDurationIsNotBelievedAndFilesThatAreNoMovieMeasureNothing) {
  TempDir dir;
  const auto real = dir / "real.mp4";
  testing::writeTestMovie(real, 2.0, 96, 64, true);
  std::string scrambled = testing::readFile(real);
  ASSERT_TRUE(finishFragmentedMovieHeader(real, {3600.0, 3600.0}));
  EXPECT_NEAR(std::stod(testing::ffprobe(real)["format"]["duration"].get<std::string>()), 3600, 1);
  EXPECT_NEAR(probeDuration(real), 2.0, 0.05);

  std::string random(200'000, '\0');
  std::mt19937 generator(5);
  for (auto& c : random) c = static_cast<char>(generator());
  // Every field after the movie box's header: counts and sizes claim anything.
  const auto moov = scrambled.find("moov");
  for (std::size_t i = moov + 12; i < scrambled.size(); i += 7) scrambled[i] = static_cast<char>(0xff);
  for (const auto& [name, content] : {std::pair("random", random), {"scrambled", scrambled}, {"ftyp only", scrambled.substr(0, 20)}}) {
    testing::writeFile(dir / "file", content);
    EXPECT_EQ(probeDuration(dir / "file"), 0) << name;
  }
  EXPECT_EQ(probeDuration(dir.path()), 0) << "a folder";
}

}  // namespace
}  // namespace tolvane
