#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tolvane::testing {

// ffprobe's view of a movie: {"streams": [...], "format": {...}}.
nlohmann::json ffprobe(const std::filesystem::path& movie);
// The first stream of `type` ("video" or "audio"), or null.
nlohmann::json ffprobeStream(const std::filesystem::path& movie, const std::string& type);
// Presentation times of the video key frames, in order.
std::vector<double> keyFrameTimes(const std::filesystem::path& movie);
// What `ffmpeg -v error -i movie -f null -` prints: empty when the whole file decodes.
std::string decodeErrors(const std::filesystem::path& movie);

// A short test movie made by MovieWriter: `seconds` of 30 fps frames with a moving block
// (and a 440 Hz tone when `withAudio`). Unless `finished`, the writer is released without
// finish() once its encoder has taken every frame, leaving the fragments it completed as a
// crash does.
void writeTestMovie(const std::filesystem::path& movie, double seconds, int width = 96, int height = 64,
                    bool withAudio = false, bool finished = true);

}  // namespace tolvane::testing
