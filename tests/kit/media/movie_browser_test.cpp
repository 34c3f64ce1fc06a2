// A finished recording is what viewers get: it must play and seek in a real browser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "tests/kit/media/movie_judge.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

// tests/browser/play_movie.mjs serves the movie over HTTP with Range requests to the
// system Chromium, headless, and checks that it plays, seeks to the middle and plays on.
TEST(MovieBrowserTest, AFinishedRecordingPlaysAndSeeksInChromium) {
  const std::filesystem::path tools = std::filesystem::path(std::getenv("TOLVANE_SOURCE_DIR")) / "tests/browser";
  ASSERT_TRUE(std::filesystem::exists(tools / "node_modules/puppeteer-core")) << "run `npm ci` in " << tools;
  testing::TempDir dir;
  const auto movie = dir / "recording.mp4";
  testing::writeTestMovie(movie, 8.0, 320, 240, true);

  const auto result = testing::runCommand({"node", (tools / "play_movie.mjs").string(), movie.string()});
  std::cout << result.out;
  EXPECT_EQ(result.status, 0) << result.out << result.err;
}

}  // namespace
}  // namespace tolvane
