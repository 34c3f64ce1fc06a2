// A writer killed mid-recording must leave a movie that plays up to its last fragment.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "kit/base/clock.h"
#include "kit/media/media_probe.h"
#include "kit/media/movie_writer.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

constexpr const char* kMovieVariable = "TOLVANE_CRASH_CHILD_MOVIE";
constexpr const char* kProgressVariable = "TOLVANE_CRASH_CHILD_PROGRESS";

// Runs in the child: records a moving block and a constant sound in real time, noting after every
// frame how much has been appended, until it is killed.
TEST(MovieWriterCrashChild, RecordsUntilKilled) {
  const char* moviePath = std::getenv(kMovieVariable);
  const char* progressPath = std::getenv(kProgressVariable);
  if (moviePath == nullptr || progressPath == nullptr) GTEST_SKIP() << "runs only as the child of the crash test";
  const int progress = ::open(progressPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(progress, 0);

  MovieWriter writer(moviePath, 320, 240, 30, true, MovieWriter::fragmentInterval);
  writer.startSession(MediaTime::zero());
  const double start = monotonicSeconds();
  for (int i = 0; i < 30 * 60; ++i) {
    const double due = start + i / 30.0;
    while (monotonicSeconds() < due) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto frame = writer.pixelBufferPool().acquire();
    frame.fill(60, 50, 40, 255);
    for (int y = 100; y < 140; ++y) {
      for (int x = (i * 4) % 280; x < (i * 4) % 280 + 40; ++x) frame.pixel(x, y)[1] = 220;
    }
    writer.append(frame, MediaTime{i * 20, 600});
    writer.append(AudioBuffer::interleavedFloats(std::vector<float>(3200, 0.1f), 2, 48000, MediaTime{i * 1600, 48000}));
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%-20.4f\n", (i + 1) / 30.0);
    ASSERT_EQ(::pwrite(progress, line, static_cast<std::size_t>(length), 0), length);
  }
  FAIL() << "the parent should have killed this process";
}

double appendedSeconds(const std::filesystem::path& progress) {
  try {
    return std::stod(testing::readFile(progress));
  } catch (...) {
    return 0;
  }
}

TEST(MovieWriterCrashTest, AKilledWriterLeavesAMovieThatPlaysUpToItsLastFragment) {
  testing::TempDir dir;
  const auto movie = dir / "recording.mp4";
  const auto progress = dir / "progress";
  testing::ChildProcess child({"/proc/self/exe", "--gtest_filter=MovieWriterCrashChild.RecordsUntilKilled"},
                              {{kMovieVariable, movie.string()}, {kProgressVariable, progress.string()}});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (appendedSeconds(progress) < 4.3 && std::chrono::steady_clock::now() < deadline && child.isRunning()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  child.kill(SIGKILL);
  ASSERT_EQ(child.wait(std::chrono::seconds(10)), 128 + SIGKILL);
  const double appended = appendedSeconds(progress);
  ASSERT_GE(appended, 4.3);

  const double probed = probeDuration(movie);
  std::cout << "appended " << appended << " s, probed " << probed << " s\n";
  EXPECT_GT(probed, 0.0);
  EXPECT_NEAR(probed, appended, 2.0);
  EXPECT_EQ(testing::decodeErrors(movie), "");
  const auto video = testing::ffprobeStream(movie, "video");
  ASSERT_FALSE(video.is_null());
  EXPECT_EQ(video["codec_name"], "h264");
  EXPECT_FALSE(testing::ffprobeStream(movie, "audio").is_null());
}

}  // namespace
}  // namespace tolvane
