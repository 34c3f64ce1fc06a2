#pragma once

// What ffprobe and ffmpeg see in a movie a test recorded.
#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"

namespace tolvane::testing {

struct MovieProbe {
  double duration = 0;
  int width = 0;
  int height = 0;
  std::vector<double> videoTimes;  // video packet times, in presentation order
  bool hasAudio = false;

  double largestVideoGap() const {
    double gap = 0;
    for (std::size_t i = 1; i < videoTimes.size(); ++i) gap = std::max(gap, videoTimes[i] - videoTimes[i - 1]);
    return gap;
  }
};

inline MovieProbe probeMovie(const std::filesystem::path& movie) {
  MovieProbe probe;
  const auto json = nlohmann::json::parse(
      runCommand({"ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", movie.string()}).out,
      nullptr, false);
  if (!json.contains("format")) return probe;
  probe.duration = std::stod(json["format"].value("duration", "0"));
  for (const auto& stream : json["streams"]) {
    if (stream["codec_type"] == "video") {
      probe.width = stream["width"];
      probe.height = stream["height"];
    }
    probe.hasAudio = probe.hasAudio || stream["codec_type"] == "audio";
  }
  std::istringstream lines(runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                       "packet=pts_time", "-of", "csv=p=0", movie.string()}).out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line != "N/A") probe.videoTimes.push_back(std::stod(line));
  }
  std::sort(probe.videoTimes.begin(), probe.videoTimes.end());
  return probe;
}

// The loudest sample of the movie's first audio track in dB below full scale (0 is
// full scale); -inf when there is no sound at all.
inline double movieAudioPeak(const std::filesystem::path& movie) {
  const std::string err = runCommand({"ffmpeg", "-nostdin", "-i", movie.string(), "-map", "0:a:0", "-af",
                                      "volumedetect", "-f", "null", "-"}).err;
  const auto at = err.find("max_volume: ");
  if (at == std::string::npos || err.compare(at + 12, 4, "-inf") == 0) return -std::numeric_limits<double>::infinity();
  return std::stod(err.substr(at + 12));
}

// The frame at `time` as ffmpeg decodes it: R, G, B bytes, row after row, with no
// padding; empty when there is none. ffmpeg converts with the matrix and range the stream
// declares, as a player would.
inline std::string movieFrameRGB(const std::filesystem::path& movie, double time) {
  return runCommand({"ffmpeg", "-nostdin", "-v", "error", "-ss", std::to_string(time), "-i", movie.string(),
                     "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"}).out;
}

// The decoded pixel (R, G, B) at (x, y) of the frame at `time` in a movie `width` pixels
// wide; -1s when there is none.
inline std::array<int, 3> moviePixel(const std::filesystem::path& movie, double time, int width, int x, int y) {
  const std::string out = movieFrameRGB(movie, time);
  const std::size_t offset = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  if (out.size() < offset + 3) return {-1, -1, -1};
  auto byte = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(out[offset + i])); };
  return {byte(0), byte(1), byte(2)};
}

}  // namespace tolvane::testing
