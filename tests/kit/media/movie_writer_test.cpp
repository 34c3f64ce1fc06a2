#include "kit/media/movie_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <thread>

#include "kit/base/memory_log_sink.h"
#include "kit/media/media_probe.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::TempDir;

VideoFrame grayFrame(MovieWriter& writer) {
  auto frame = writer.pixelBufferPool().acquire();
  frame.fill(90, 90, 90, 255);
  return frame;
}

TEST(MovieWriterTest, AFinishedMovieIsH264HighWithoutBFramesAndAacStereoAt48kHz) {
  TempDir dir;
  const auto movie = dir / "recording.mp4";
  testing::writeTestMovie(movie, 4.5, 96, 64, true);

  const auto video = testing::ffprobeStream(movie, "video");
  EXPECT_EQ(std::tuple(video["codec_name"], video["profile"], video["has_b_frames"], video["width"], video["height"]),
            std::tuple("h264", "High", 0, 96, 64));
  const auto audio = testing::ffprobeStream(movie, "audio");
  EXPECT_EQ(std::tuple(audio["codec_name"], audio["sample_rate"], audio["channels"]), std::tuple("aac", "48000", 2));
  EXPECT_NEAR(std::stod(audio["duration"].get<std::string>()), 4.5, 0.05);
  EXPECT_EQ(testing::decodeErrors(movie), "");

  const auto keys = testing::keyFrameTimes(movie);
  ASSERT_GE(keys.size(), 3u);
  EXPECT_DOUBLE_EQ(keys.front(), 0.0);
  for (std::size_t i = 1; i < keys.size(); ++i) EXPECT_LE(keys[i] - keys[i - 1], 2.0 + 1e-6) << "at " << keys[i];
  EXPECT_LE(4.5 - keys.back(), 2.0 + 1e-6);
}

// Releasing a writer whose finish is still under way waits for that finish: nothing
// goes on writing the file in the background. Finishing completes the fragmented file in
// place.
TEST(MovieWriterTest, AnAudioTrackThatNeverGotSoundStillPlaysOnceTheWriterIsReleased) {
  TempDir dir;
  const auto movie = dir / "silent.mp4";
  {
    MovieWriter writer(movie, 1280, 720, 30, true, MediaTime{60, 600});  // fragments of 0.1 s
    writer.startSession(MediaTime::zero());
    for (int i = 0; i < 30; ++i) {
      while (!writer.isReadyForMoreVideo()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      writer.append(grayFrame(writer), MediaTime{i * 20, 600});
    }
    struct stat before {};
    ::stat(movie.c_str(), &before);
    writer.finishSynchronously(0);
    struct stat after {};
    ::stat(movie.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "finished by writing another file: stopping would cost a copy";
  }
  EXPECT_NE(testing::readFile(movie).find("mfra"), std::string::npos) << "no fragment index: not finished";
  // A track without a single sample has nothing to play; the finished file leaves it out.
  EXPECT_TRUE(testing::ffprobeStream(movie, "audio").is_null());
  EXPECT_EQ(testing::ffprobeStream(movie, "video")["codec_name"], "h264");
  EXPECT_EQ(testing::decodeErrors(movie), "");
  EXPECT_NEAR(probeDuration(movie), 1.0, 0.03);
}

TEST(MovieWriterTest, FramesBeforeTheSessionWithoutALaterTimeOrAfterFinishingAreIgnored) {
  TempDir dir;
  MovieWriter writer(dir / "m.mp4", 65.7, 49, 30, false, MovieWriter::fragmentInterval);
  EXPECT_EQ(std::pair(writer.width(), writer.height()), std::pair(64, 48)) << "odd sizes round down to even";
  writer.append(grayFrame(writer), MediaTime{0, 600});
  EXPECT_EQ(writer.framesWritten(), 0);

  writer.startSession(MediaTime::zero());
  writer.startSession(MediaTime{600, 600});  // only the first call counts
  writer.append(grayFrame(writer), MediaTime{20, 600});
  writer.append(grayFrame(writer), MediaTime{20, 600});
  writer.append(grayFrame(writer), MediaTime{10, 600});
  EXPECT_EQ(writer.framesWritten(), 1);
  writer.append(grayFrame(writer), MediaTime{1600, 48000});  // 20.0 ticks of 600: the same time
  writer.append(grayFrame(writer), MediaTime{40, 600});
  writer.append(AudioBuffer::interleavedFloats(std::vector<float>(9600, 0.1f), 2, 48000, MediaTime::zero()));
  EXPECT_EQ(writer.framesWritten(), 2);
  EXPECT_EQ(writer.framesDropped(), 0);
  EXPECT_EQ(writer.lastVideoTime(), (MediaTime{40, 600}));
  writer.finish();
  EXPECT_EQ(writer.status(), MovieWriter::Status::completed);

  writer.append(grayFrame(writer), MediaTime{60, 600});
  writer.finish();
  EXPECT_EQ(writer.framesWritten(), 2);
}

TEST(MovieWriterTest, FramesThatFindTheQueueFullAreDroppedAndCounted) {
  TempDir dir;
  MovieWriter writer(dir / "m.mp4", 1280, 720, 30, false, MovieWriter::fragmentInterval);
  writer.startSession(MediaTime::zero());
  auto frame = grayFrame(writer);
  // A burst far faster than any encoder: the bounded queue in front of it fills up.
  constexpr int appended = 60;
  for (int i = 0; i < appended; ++i) writer.append(frame, MediaTime{i * 20, 600});
  EXPECT_GT(writer.framesDropped(), 0);
  EXPECT_EQ(writer.framesWritten() + writer.framesDropped(), appended);
}

TEST(MovieWriterTest, AFailureIsRecordedOnceAndTheFileIsLeftAsItIs) {
  TempDir dir;
  const auto movie = dir / "m.mp4";
  auto sink = MemoryLogSink::attach();
  // A file size limit makes the first fragment's write fail the way a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit limited = old;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  {
    MovieWriter writer(movie, 320, 240, 30, false, MovieWriter::fragmentInterval);
    writer.startSession(MediaTime::zero());
    for (int i = 0; i < 600 && !writer.failure(); ++i) {
      auto frame = writer.pixelBufferPool().acquire();
      for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width() * 4; ++x) frame.row(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 13 + i * 31) ^ (x * y));
      }
      writer.append(frame, MediaTime{i * 20, 600});
      if (!writer.isReadyForMoreVideo()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(writer.failure().has_value());
    EXPECT_EQ(writer.failure()->kind(), MovieWriter::WriterError::Kind::failed);
    EXPECT_EQ(std::string(writer.failure()->what()), "The recording stopped: couldn't write the movie file (File too large)");
    EXPECT_FALSE(writer.isHealthy());
    writer.append(grayFrame(writer), MediaTime{100000, 600});
    const auto sizeBefore = std::filesystem::file_size(movie);
    writer.finish();
    EXPECT_EQ(std::filesystem::file_size(movie), sizeBefore);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  const auto lines = sink->messages("writer");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "writer failed: couldn't write the movie file (File too large)"), 1);
  EXPECT_TRUE(sink->contains("writer", LogLevel::error, "writer was 3 at finish; leaving the file as-is"));
}

TEST(MovieWriterTest, CreationFailuresSayWhyAndFinishingWithoutASessionRemovesTheFile) {
  TempDir dir;
  const auto movie = dir / "m.mp4";
  MovieWriter unused(movie, 64, 48, 30, true, MovieWriter::fragmentInterval);
  EXPECT_TRUE(std::filesystem::exists(movie));
  EXPECT_TRUE(unused.finishSynchronously(30));
  EXPECT_EQ(unused.status(), MovieWriter::Status::cancelled);
  EXPECT_FALSE(std::filesystem::exists(movie));

  const std::tuple<std::filesystem::path, double, std::string> cases[] = {
      {"/nonexistent-folder/m.mp4", 64, "couldn't create the movie file (No such file or directory)"},
      {movie, 1.5, "the video encoder refused these settings"},
  };
  for (const auto& [path, width, reason] : cases) {
    try {
      MovieWriter writer(path, width, 48, 30, false, MovieWriter::fragmentInterval);
      ADD_FAILURE() << "expected: " << reason;
    } catch (const MovieWriter::WriterError& e) {
      EXPECT_EQ(e.kind(), MovieWriter::WriterError::Kind::cannotCreate);
      EXPECT_EQ(e.what(), "Couldn't start writing the recording: " + reason);
    }
  }
}

}  // namespace
}  // namespace tolvane
