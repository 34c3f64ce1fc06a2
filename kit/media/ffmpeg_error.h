#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// A failure inside the FFmpeg-based media code. `what()` is a short reason that reads
// well after "The recording stopped: " or "Trimming failed: ".
class FFmpegError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // "<action> (<FFmpeg's text for code>)".
  FFmpegError(const std::string& action, int code);
};

// FFmpeg's text for an AVERROR code ("No space left on device").
std::string ffmpegErrorText(int code);

// Sends FFmpeg's own messages to the "ffmpeg" log category at debug level instead of
// stderr (the callers report failures themselves). Idempotent.
void routeFFmpegLogs();

}  // namespace tolvane
