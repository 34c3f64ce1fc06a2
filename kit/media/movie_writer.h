#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "kit/media/audio_buffer.h"
#include "kit/media/frame_pool.h"
#include "kit/media/media_time.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Turns a stream of BGRA frames and audio buffers into one MP4 file: H.264 video at a
// bit rate derived from the frame size and rate, optional AAC stereo audio, written in
// fragments so that a file cut off by a crash stays readable up to its last fragment.
//
// Every append, the session start and the finish run on the serial queue
// "com.tolvanelabs.Tolvane.writer": callers on several threads are applied one at a time,
// in the order they reach the queue, and each caller waits for its own call. The
// counters and the failure are read without waiting for the queue. Failures while
// writing are remembered once and logged; finishing never throws.
class MovieWriter {
 public:
  class WriterError : public std::runtime_error {
   public:
    enum class Kind { cannotCreate, failed };

    static WriterError cannotCreate(const std::string& detail) {
      return WriterError(Kind::cannotCreate, detail, "Couldn't start writing the recording: " + detail);
    }
    static WriterError failed(const std::string& detail) {
      return WriterError(Kind::failed, detail, "The recording stopped: " + detail);
    }

    Kind kind() const { return kind_; }
    const std::string& detail() const { return detail_; }

   private:
    WriterError(Kind kind, std::string detail, const std::string& message)
        : std::runtime_error(message), kind_(kind), detail_(std::move(detail)) {}
    Kind kind_;
    std::string detail_;
  };

  // The status of the file underneath, with the numbers the log lines print.
  enum class Status { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

  // One second: the interval the capture engine asks for.
  static constexpr MediaTime fragmentInterval{600, 600};

  // Returns a writer that is already writing (the file exists; no session yet). Throws
  // WriterError (cannotCreate).
  MovieWriter(std::filesystem::path outputPath, double videoWidth, double videoHeight, int frameRate,
              bool includeAudio, std::optional<MediaTime> fragmentEvery);
  // Without finish(), the file is left as it stands (its complete fragments are kept).
  // A finish under way (after finishSynchronously timed out) completes first.
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // Video bit rate in bits per second for an even W × H at `frameRate`.
  static std::int64_t bitRateFor(int width, int height, int frameRate);

  const std::filesystem::path& outputPath() const;
  int width() const;
  int height() const;
  bool hasAudioInput() const;

  void startSession(MediaTime time);
  void append(const VideoFrame& pixelBuffer, MediaTime time);
  void append(const AudioBuffer& audioSampleBuffer);
  // Ends the file. Blocks until the file is closed; a second call waits for the first
  // one's end.
  void finish();
  // Waits for finish() at most `timeoutSeconds`; finishing goes on after a time-out.
  // True when it completed in time.
  bool finishSynchronously(double timeoutSeconds);

  MediaTime lastVideoTime() const;
  std::int64_t framesWritten() const;
  std::int64_t framesDropped() const;
  std::optional<WriterError> failure() const;
  bool isHealthy() const;
  Status status() const;
  bool isReadyForMoreVideo() const;
  // Frames of the video's size that go back to the pool when released: composited
  // frames come from here so that buffers are recycled.
  FramePool& pixelBufferPool() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tolvane
