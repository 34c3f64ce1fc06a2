#pragma once

#include <filesystem>
#include <string>

namespace tolvane {

// Still pictures of movies for lists and cards: the frame at one second (or at the
// middle of a shorter movie), scaled down to at most kMaxWidth pixels wide, as a JPEG.
// Both the server's library pages and the desktop app's panes use it, so a recording
// looks the same in both.
class ThumbnailMaker {
 public:
  static constexpr int kMaxWidth = 480;
  static constexpr double kFrameTimeSec = 1.0;

  // The JPEG's bytes. Throws FFmpegError (a sentence fit for a log) when the file cannot
  // be read, holds no video or no frame decodes.
  static std::string jpeg(const std::filesystem::path& movie, int maxWidth = kMaxWidth);

  // Writes jpeg(movie) to `destination` through a temporary name in the same folder and
  // a rename, so that a reader never sees half a file and two makers racing on one
  // destination each leave a whole one. Throws FFmpegError, or std::filesystem_error
  // when the folder cannot be written.
  static void writeJpeg(const std::filesystem::path& movie, const std::filesystem::path& destination,
                        int maxWidth = kMaxWidth);
};

}  // namespace tolvane
