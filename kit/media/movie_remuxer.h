#pragma once

#include <filesystem>
#include <optional>

#include "kit/media/ffmpeg_error.h"

namespace tolvane {

// The source could not be opened as a movie, or holds no audio or video.
class MovieUnreadableError : public FFmpegError {
 public:
  using FFmpegError::FFmpegError;
};

struct RemuxOptions {
  // Keep only [start, end) seconds. Stream copy cannot cut inside a group of pictures,
  // so the video starts at the key frame at or before `start` and an edit list tells
  // players to begin presenting at `start` exactly.
  std::optional<double> startSeconds;
  std::optional<double> endSeconds;
  // Put the index (moov) at the front of the file for progressive playback.
  bool indexAtFront = false;
};

// Copies the audio and video packets of one movie into a regular (unfragmented) MP4
// without re-encoding.
class MovieRemuxer {
 public:
  // Writes to a hidden temporary file beside `destination`, syncs it and renames it into
  // place, so `destination` is either untouched or complete, even when it is `source`
  // itself or the process dies half-way. Throws MovieUnreadableError when the source
  // can't be opened, FFmpegError when copying fails (the temporary file is removed).
  static void remux(const std::filesystem::path& source, const std::filesystem::path& destination,
                    const RemuxOptions& options = {});
};

}  // namespace tolvane
