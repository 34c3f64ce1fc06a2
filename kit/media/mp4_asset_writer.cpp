#include "kit/media/mp4_asset_writer.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "kit/media/ffmpeg_error.h"
#include "kit/media/fragmented_movie_header.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace tolvane {

Mp4AssetWriter::Mp4AssetWriter(std::filesystem::path path) : path_(std::move(path)) {
  routeFFmpegLogs();
  const int rc = avformat_alloc_output_context2(&format_, nullptr, "mp4", path_.c_str());
  if (rc < 0) throw FFmpegError("couldn't set up an MP4 file", rc);
}

Mp4AssetWriter::~Mp4AssetWriter() {
  stopThread(false);
  closeFile(false);
  avformat_free_context(format_);
}

bool Mp4AssetWriter::addVideoInput(const VideoSettings& settings) {
  if (video_ != nullptr || status_ != Status::unknown) return false;
  try {
    auto encoder = std::make_unique<H264Encoder>(settings);
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder->context()) < 0) return false;
    stream->time_base = AVRational{1, H264Encoder::timeBase};
    stream->avg_frame_rate = AVRational{settings.frameRate, 1};
    videoStream_ = stream;
    video_ = std::move(encoder);
    return true;
  } catch (const FFmpegError& e) {
    log_.error("video encoder refused: {}", e.what());
    return false;
  }
}

bool Mp4AssetWriter::addAudioInput(const AudioSettings& settings) {
  if (audio_ != nullptr || status_ != Status::unknown) return false;
  try {
    auto encoder = std::make_unique<AacEncoder>(settings);
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder->context()) < 0) return false;
    stream->time_base = AVRational{1, settings.sampleRate};
    audioStream_ = stream;
    audio_ = std::move(encoder);
    return true;
  } catch (const FFmpegError& e) {
    log_.error("audio encoder refused: {}", e.what());
    return false;
  }
}

bool Mp4AssetWriter::startWriting() {
  if (status_ != Status::unknown) return status_ == Status::writing;
  int rc = avio_open(&format_->pb, path_.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) {
    fail(FFmpegError("couldn't create the movie file", rc).what());
    return false;
  }
  AVDictionary* options = nullptr;
  if (fragmentInterval_.isValid() && fragmentInterval_.value > 0) {
    // Fragments, each written out whole as soon as it is complete: a file cut off by a
    // crash keeps everything up to its last complete fragment. The muxer holds a
    // fragment in memory until it is done, so flushing after every packet costs nothing
    // between fragments and pushes each finished one to the disk at once.
    const auto microseconds = fragmentInterval_.convertedTo(1'000'000).value;
    av_dict_set(&options, "movflags", "+empty_moov+default_base_moof", 0);
    av_dict_set_int(&options, "frag_duration", microseconds, 0);
    av_dict_set(&options, "flush_packets", "1", 0);
  }
  rc = avformat_write_header(format_, &options);
  av_dict_free(&options);
  if (rc < 0) {
    avio_closep(&format_->pb);
    fail(FFmpegError("couldn't write the movie header", rc).what());
    return false;
  }
  streamEnds_.assign(format_->nb_streams, std::nullopt);
  {
    std::lock_guard lock(mutex_);
    status_ = Status::writing;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void Mp4AssetWriter::startSession(MediaTime time) {
  std::lock_guard lock(mutex_);
  if (!sessionStart_) sessionStart_ = time;
}

bool Mp4AssetWriter::isReadyForMoreVideo() {
  std::lock_guard lock(mutex_);
  return status_ == Status::writing && !draining_ && queuedVideo_ < videoQueueCapacity;
}

bool Mp4AssetWriter::isReadyForMoreAudio() {
  std::lock_guard lock(mutex_);
  return status_ == Status::writing && !draining_ && audio_ != nullptr && queuedAudio_ < audioQueueCapacity;
}

bool Mp4AssetWriter::appendVideo(const VideoFrame& frame, MediaTime time) {
  {
    std::lock_guard lock(mutex_);
    if (status_ != Status::writing || draining_ || !frame) return false;
    if (!sessionStart_ || time < *sessionStart_) return true;
    const std::int64_t offset =
        time.convertedTo(H264Encoder::timeBase).value - sessionStart_->convertedTo(H264Encoder::timeBase).value;
    // Distinct times closer than one tick still need distinct timestamps.
    const std::int64_t pts = std::max(offset, lastVideoPts_ + 1);
    lastVideoPts_ = pts;
    queue_.push_back(VideoItem{frame, pts});
    ++queuedVideo_;
  }
  wake_.notify_one();
  return true;
}

bool Mp4AssetWriter::appendAudio(AudioBuffer buffer) {
  {
    std::lock_guard lock(mutex_);
    if (status_ != Status::writing || draining_ || audio_ == nullptr) return false;
    if (!sessionStart_) return true;
    queue_.push_back(AudioItem{std::move(buffer), *sessionStart_});
    ++queuedAudio_;
  }
  wake_.notify_one();
  return true;
}

void Mp4AssetWriter::run() {
  while (true) {
    Item item;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return abandon_ || draining_ || !queue_.empty(); });
      if (abandon_ || queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
      if (std::holds_alternative<VideoItem>(item)) {
        --queuedVideo_;
      } else {
        --queuedAudio_;
      }
      if (status_ != Status::writing) continue;
    }
    try {
      process(item);
    } catch (const std::exception& e) {
      fail(e.what());
    }
  }
}

void Mp4AssetWriter::process(Item& item) {
  if (auto* video = std::get_if<VideoItem>(&item)) {
    video_->encode(video->frame, video->pts,
                   [this](AVPacket& packet) { writePacket(packet, videoStream_, H264Encoder::timeBase); });
    video->frame = VideoFrame();  // hand the pixels back to their pool right away
    return;
  }
  auto& audio = std::get<AudioItem>(item);
  const int sampleRate = audio_->context()->sample_rate;
  audio_->encode(audio.buffer, audio.sessionStart,
                 [this, sampleRate](AVPacket& packet) { writePacket(packet, audioStream_, sampleRate); });
}

void Mp4AssetWriter::writePacket(AVPacket& packet, AVStream* stream, int encoderTimeBase) {
  packet.stream_index = stream->index;
  av_packet_rescale_ts(&packet, AVRational{1, encoderTimeBase}, stream->time_base);
  auto& end = streamEnds_[static_cast<std::size_t>(stream->index)];
  const double packetEnd = av_q2d(stream->time_base) * static_cast<double>(packet.pts + std::max<std::int64_t>(packet.duration, 0));
  end = std::max(end.value_or(packetEnd), packetEnd);
  // Not interleaved on purpose: each stream's packets go into the current fragment as
  // they come, so audio running 0.3 s behind video never holds video back from the disk.
  const int rc = av_write_frame(format_, &packet);
  if (rc < 0) throw FFmpegError("couldn't write the movie file", rc);
}

void Mp4AssetWriter::fail(const std::string& reason) {
  std::lock_guard lock(mutex_);
  if (status_ == Status::failed) return;
  status_ = Status::failed;
  error_ = reason;
}

void Mp4AssetWriter::stopThread(bool drain) {
  {
    std::lock_guard lock(mutex_);
    if (drain) {
      draining_ = true;
    } else {
      abandon_ = true;
    }
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Mp4AssetWriter::closeFile(bool writeTrailer) {
  if (format_ == nullptr || format_->pb == nullptr) return;
  if (writeTrailer) {
    const int rc = av_write_trailer(format_);
    if (rc < 0) fail(FFmpegError("couldn't finish the movie file", rc).what());
  }
  const int rc = avio_closep(&format_->pb);
  if (rc < 0 && writeTrailer) fail(FFmpegError("couldn't close the movie file", rc).what());
}

void Mp4AssetWriter::finishWriting() {
  if (status() != Status::writing) return;
  stopThread(true);
  if (status() != Status::writing) {
    closeFile(false);
    return;
  }
  try {
    if (video_) video_->flush([this](AVPacket& p) { writePacket(p, videoStream_, H264Encoder::timeBase); });
    if (audio_) {
      const int sampleRate = audio_->context()->sample_rate;
      audio_->flush([this, sampleRate](AVPacket& p) { writePacket(p, audioStream_, sampleRate); });
    }
  } catch (const std::exception& e) {
    fail(e.what());
  }
  const bool healthy = status() == Status::writing;
  closeFile(healthy);
  if (status() != Status::writing) return;
  // The fragmented file stays as it is: the trailer has added the fragment index (mfra)
  // players seek with, and the header gets the length in place, so stopping costs the
  // same for a minute and for hours. Rewriting it as a regular MP4 would copy every byte
  // once more.
  if (fragmentInterval_.isValid() && fragmentInterval_.value > 0 && !finishFragmentedMovieHeader(path_, streamEnds_)) {
    log_.error("couldn't complete the movie's header; players will work its length out from the fragments");
  }
  std::lock_guard lock(mutex_);
  status_ = Status::completed;
}

void Mp4AssetWriter::cancelWriting() {
  if (status() != Status::writing) return;
  stopThread(false);
  closeFile(false);
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  std::lock_guard lock(mutex_);
  status_ = Status::cancelled;
}

Mp4AssetWriter::Status Mp4AssetWriter::status() {
  std::lock_guard lock(mutex_);
  return status_;
}

std::optional<std::string> Mp4AssetWriter::error() {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace tolvane
