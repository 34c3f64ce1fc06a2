#include "tests/kit/media/movie_judge.h"

#include <cmath>
#include <sstream>
#include <thread>
#include <stdexcept>

#include "kit/media/movie_writer.h"
#include "tests/support/child_process.h"

namespace tolvane::testing {

nlohmann::json ffprobe(const std::filesystem::path& movie) {
  auto result = runCommand({"ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", movie.string()});
  if (result.status != 0) throw std::runtime_error("ffprobe failed on " + movie.string() + ": " + result.err);
  return nlohmann::json::parse(result.out);
}

nlohmann::json ffprobeStream(const std::filesystem::path& movie, const std::string& type) {
  const auto probed = ffprobe(movie);
  for (const auto& stream : probed["streams"]) {
    if (stream.value("codec_type", "") == type) return stream;
  }
  return nullptr;
}

std::vector<double> keyFrameTimes(const std::filesystem::path& movie) {
  auto result = runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time,flags",
                            "-of", "csv=p=0", movie.string()});
  std::vector<double> times;
  std::istringstream lines(result.out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    if (line.find('K', comma) != std::string::npos) times.push_back(std::stod(line.substr(0, comma)));
  }
  return times;
}

std::string decodeErrors(const std::filesystem::path& movie) {
  auto result = runCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", movie.string(), "-f", "null", "-"});
  if (result.status != 0 && result.err.empty()) return "ffmpeg exited with " + std::to_string(result.status);
  return result.err;
}

void writeTestMovie(const std::filesystem::path& movie, double seconds, int width, int height, bool withAudio,
                    bool finished) {
  MovieWriter writer(movie, width, height, 30, withAudio, MovieWriter::fragmentInterval);
  writer.startSession(MediaTime::zero());
  const int frames = static_cast<int>(std::lround(seconds * 30));
  for (int i = 0; i < frames; ++i) {
    auto frame = writer.pixelBufferPool().acquire();
    frame.fill(40, 40, 40, 255);
    const int x = (i * 3) % std::max(1, width - 16);
    for (int y = 8; y < std::min(height, 24); ++y) {
      for (int dx = 0; dx < 16 && x + dx < width; ++dx) {
        auto* p = frame.pixel(x + dx, y);
        p[0] = 0, p[1] = 200, p[2] = 255, p[3] = 255;
      }
    }
    // Real-time pacing is not needed, but the bounded queue must not drop frames here.
    while (!writer.isReadyForMoreVideo()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    writer.append(frame, MediaTime{i * 20, 600});
    if (withAudio) {
      // 1600 samples (one frame's worth) of a 440 Hz tone at 48 kHz.
      std::vector<float> samples(3200);
      for (int k = 0; k < 1600; ++k) {
        const auto v = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * (i * 1600 + k) / 48000.0));
        samples[static_cast<std::size_t>(k) * 2] = v;
        samples[static_cast<std::size_t>(k) * 2 + 1] = v;
      }
      writer.append(AudioBuffer::interleavedFloats(samples, 2, 48000, MediaTime{i * 1600, 48000}));
    }
  }
  if (!finished) {
    // Let the encoder thread reach the end of what was queued.
    while (writer.framesWritten() < frames) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return;
  }
  writer.finish();
  if (writer.failure()) throw std::runtime_error(writer.failure()->what());
}

}  // namespace tolvane::testing
