#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "kit/base/log.h"
#include "kit/media/aac_encoder.h"
#include "kit/media/audio_buffer.h"
#include "kit/media/h264_encoder.h"
#include "kit/media/media_time.h"
#include "kit/media/video_frame.h"

struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace tolvane {

// The file-writing engine under MovieWriter: an MP4 muxer writing fragments that reach
// the disk as soon as each is complete, an H.264 and an optional AAC encoder, and one
// encoder thread fed through bounded queues. "Ready for more media data" means the
// queue has room; the caller decides what to do with media that finds it full.
//
// Set up with the add…/startWriting calls from one thread, then thread-safe.
class Mp4AssetWriter {
 public:
  // The numbers are part of the log lines.
  enum class Status { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

  static constexpr std::size_t videoQueueCapacity = 6;
  static constexpr std::size_t audioQueueCapacity = 64;

  explicit Mp4AssetWriter(std::filesystem::path path);
  // Without finishWriting()/cancelWriting(): stops the encoder thread and closes the file
  // as it stands, keeping every fragment already written.
  ~Mp4AssetWriter();
  Mp4AssetWriter(const Mp4AssetWriter&) = delete;
  Mp4AssetWriter& operator=(const Mp4AssetWriter&) = delete;

  void setFragmentInterval(MediaTime interval) { fragmentInterval_ = interval; }
  // False when the encoder refuses the settings.
  bool addVideoInput(const VideoSettings& settings);
  bool addAudioInput(const AudioSettings& settings);
  bool hasAudioInput() const { return audio_ != nullptr; }
  // Creates the file and writes its header; false (status failed, error() set) when that
  // fails.
  bool startWriting();

  void startSession(MediaTime time);
  bool isReadyForMoreVideo();
  bool isReadyForMoreAudio();
  // False when the writer is not writing. Media before the session start is dropped.
  bool appendVideo(const VideoFrame& frame, MediaTime time);
  bool appendAudio(AudioBuffer buffer);

  // Encodes what is queued and closes the file: a fragmented one gets its fragment index
  // and its header completed in place (see finishFragmentedMovieHeader). Blocks.
  void finishWriting();
  // Stops at once and removes the file.
  void cancelWriting();

  Status status();
  std::optional<std::string> error();

 private:
  struct VideoItem {
    VideoFrame frame;
    std::int64_t pts;
  };
  struct AudioItem {
    AudioBuffer buffer;
    MediaTime sessionStart;
  };
  using Item = std::variant<VideoItem, AudioItem>;

  void run();
  void process(Item& item);
  void writePacket(AVPacket& packet, AVStream* stream, int encoderTimeBase);
  void fail(const std::string& reason);
  void stopThread(bool drain);
  void closeFile(bool writeTrailer);

  std::filesystem::path path_;
  Logger log_{"writer"};
  MediaTime fragmentInterval_ = MediaTime::invalid();
  AVFormatContext* format_ = nullptr;
  AVStream* videoStream_ = nullptr;
  AVStream* audioStream_ = nullptr;
  std::unique_ptr<H264Encoder> video_;
  std::unique_ptr<AacEncoder> audio_;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  std::size_t queuedVideo_ = 0;
  std::size_t queuedAudio_ = 0;
  bool draining_ = false;   // finish: encode what is queued, then stop
  bool abandon_ = false;    // cancel or destruction: stop at once
  Status status_ = Status::unknown;
  std::optional<std::string> error_;
  std::optional<MediaTime> sessionStart_;
  std::int64_t lastVideoPts_ = -1;
  // By stream: where its last packet ends, in seconds; none until it has one.
  std::vector<std::optional<double>> streamEnds_;
};

}  // namespace tolvane
