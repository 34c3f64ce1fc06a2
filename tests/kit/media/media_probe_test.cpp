#include "kit/media/media_probe.h"

#include <gtest/gtest.h>

#include "tests/kit/media/movie_judge.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::TempDir;

// A complete movie measures what was written (the movie writer's tests); missing, empty
// and garbage files measure nothing (the vault recovery's tests).
TEST(ProbeDurationTest, ACutOffMovieMeasuresOnlyWhatIsThere) {
  TempDir dir;
  const auto movie = dir / "cut.mp4";
  testing::writeTestMovie(movie, 3.5, 96, 64, false, false);  // 3.5 s appended, complete fragments up to 3 s
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
