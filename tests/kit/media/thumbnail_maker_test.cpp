#include "kit/media/thumbnail_maker.h"

#include <gtest/gtest.h>

#include <ostream>

#include "kit/media/ffmpeg_error.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/thrown.h"

namespace tolvane {
namespace {

using testing::runCommand;

// A movie that is red for `redSec`, then blue for `blueSec`, at `width` × `height`.
std::filesystem::path redThenBlue(const testing::TempDir& dir, int width, int height, double redSec, double blueSec) {
  const auto path = dir / ("movie-" + std::to_string(width) + "x" + std::to_string(height) + ".mp4");
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string graph = "color=c=red:s=" + size + ":r=30:d=" + std::to_string(redSec) +
                            "[a];color=c=blue:s=" + size + ":r=30:d=" + std::to_string(blueSec) +
                            "[b];[a][b]concat=n=2:v=1:a=0";
  const auto made = runCommand({"ffmpeg", "-loglevel", "error", "-y", "-filter_complex", graph, "-pix_fmt", "yuv420p",
                                "-c:v", "libx264", "-preset", "ultrafast", path.string()});
  if (made.status != 0) throw std::runtime_error("ffmpeg failed: " + made.err);
  return path;
}

struct Picture {
  std::string codec;
  int width = 0, height = 0;
  int red = -1, green = -1, blue = -1;  // of the centre pixel
};

// What ffprobe and ffmpeg read in the file, independently of the code under test.
Picture inspect(const std::filesystem::path& image) {
  Picture picture;
  const auto probe = runCommand(
      {"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height", "-of", "csv=p=0", image.string()});
  char codec[32] = {};
  if (std::sscanf(probe.out.c_str(), "%31[^,],%d,%d", codec, &picture.width, &picture.height) != 3) return picture;
  picture.codec = codec;
  const std::string crop =
      "crop=2:2:" + std::to_string(picture.width / 2 - 1) + ":" + std::to_string(picture.height / 2 - 1);
  const auto pixel = runCommand({"ffmpeg", "-loglevel", "error", "-i", image.string(), "-vf", crop, "-f", "rawvideo",
                                 "-pix_fmt", "rgb24", "-frames:v", "1", "-"});
  if (pixel.out.size() >= 3) {
    picture.red = uint8_t(pixel.out[0]);
    picture.green = uint8_t(pixel.out[1]);
    picture.blue = uint8_t(pixel.out[2]);
  }
  return picture;
}

struct MovieCase {
  const char* name;
  int width, height;
  double redSec, blueSec;
  int expectedWidth, expectedHeight;
};

// Test names, not bytes, in ctest's listing.
void PrintTo(const MovieCase& c, std::ostream* out) { *out << c.name; }

class ThumbnailMakerSizes : public ::testing::TestWithParam<MovieCase> {};

// Red before the chosen moment and blue from it on: a blue, full-range thumbnail is the
// frame at one second (or at the middle of a short movie), not the first one.
TEST_P(ThumbnailMakerSizes, WritesABlueJpegFromTheChosenMomentAtMost480Wide) {
  const MovieCase& c = GetParam();
  testing::TempDir dir;
  const auto movie = redThenBlue(dir, c.width, c.height, c.redSec, c.blueSec);
  const auto thumbnail = dir / "thumbnail.jpg";
  ThumbnailMaker::writeJpeg(movie, thumbnail);

  const Picture picture = inspect(thumbnail);
  EXPECT_EQ(picture.codec, "mjpeg");
  EXPECT_EQ(picture.width, c.expectedWidth);
  EXPECT_EQ(picture.height, c.expectedHeight);
  EXPECT_LT(picture.red, 40);
  EXPECT_GT(picture.blue, 215) << "limited-range video is stretched to the JPEG's full range";
  // Only the thumbnail is left in the folder, no temporary file beside it.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2);
}

INSTANTIATE_TEST_SUITE_P(Movies, ThumbnailMakerSizes,
                         ::testing::Values(MovieCase{"WideIsScaledDown", 1280, 720, 1.0, 1.0, 480, 270},
                                           MovieCase{"OddSizesGiveEvenOnes", 1001, 601, 1.0, 0.5, 480, 288},
                                           MovieCase{"SmallKeepsItsSize", 160, 120, 1.0, 2.0, 160, 120},
                                           MovieCase{"ShortUsesTheMiddle", 320, 240, 0.3, 0.4, 320, 240}),
                         [](const ::testing::TestParamInfo<MovieCase>& param) {
                           return std::string(param.param.name);
                         });

TEST(ThumbnailMaker, FilesWithoutAPictureFailWithASentence) {
  testing::TempDir dir;
  testing::writeFile(dir / "garbage.mp4", std::string(4096, '\x5a'));
  const auto sound = dir / "sound.m4a";
  ASSERT_EQ(runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "sine=d=1", sound.string()}).status,
            0);
  // A movie cut off after its header: opens, but no frame decodes.
  const auto movie = redThenBlue(dir, 320, 240, 1, 1);
  std::string bytes = testing::readFile(movie);
  testing::writeFile(dir / "cut.mp4", bytes.substr(0, 200));

  for (const char* name : {"missing.mp4", "garbage.mp4", "sound.m4a", "cut.mp4"}) {
    SCOPED_TRACE(name);
    const auto error = testing::thrownWhat<FFmpegError>([&] { ThumbnailMaker::writeJpeg(dir / name, dir / "out.jpg"); });
    EXPECT_NE(error, "no error");
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "out.jpg"));
  }
}

}  // namespace
}  // namespace tolvane
