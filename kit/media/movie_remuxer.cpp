#include "kit/media/movie_remuxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <system_error>

#include "kit/media/ffmpeg_error.h"
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace tolvane {
namespace {

struct InputCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
  void operator()(AVFormatContext* c) const {
    if (c->pb != nullptr) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::filesystem::path temporaryPathFor(const std::filesystem::path& destination) {
  std::string name = ".";
  name.append(destination.filename().string()).append(".partial");
  return destination.parent_path() / name;
}

void syncPath(const std::filesystem::path& path, bool directory) {
  const int fd = ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void copyPackets(const std::filesystem::path& source, const std::filesystem::path& destination,
                 const RemuxOptions& options) {
  AVFormatContext* rawInput = nullptr;
  int rc = avformat_open_input(&rawInput, source.c_str(), nullptr, nullptr);
  if (rc < 0) throw MovieUnreadableError("couldn't open the movie", rc);
  std::unique_ptr<AVFormatContext, InputCloser> input(rawInput);
  rc = avformat_find_stream_info(input.get(), nullptr);
  if (rc < 0) throw MovieUnreadableError("couldn't read the movie's streams", rc);

  AVFormatContext* rawOutput = nullptr;
  rc = avformat_alloc_output_context2(&rawOutput, nullptr, "mp4", destination.c_str());
  if (rc < 0) throw FFmpegError("couldn't create the output movie", rc);
  std::unique_ptr<AVFormatContext, OutputCloser> output(rawOutput);

  // Input stream index → output stream index, -1 for streams that are not copied.
  std::vector<int> streamMap(input->nb_streams, -1);
  int videoStream = -1;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters* par = input->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && (input->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    AVStream* out = avformat_new_stream(output.get(), nullptr);
    if (out == nullptr) throw FFmpegError("out of memory for the output movie");
    rc = avcodec_parameters_copy(out->codecpar, par);
    if (rc < 0) throw FFmpegError("couldn't copy the stream settings", rc);
    out->codecpar->codec_tag = 0;
    out->time_base = input->streams[i]->time_base;
    streamMap[i] = out->index;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && videoStream < 0) videoStream = static_cast<int>(i);
  }
  if (output->nb_streams == 0) throw MovieUnreadableError("the movie holds no audio or video");

  rc = avio_open(&output->pb, destination.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) throw FFmpegError("couldn't create the output file", rc);
  AVDictionary* muxerOptions = nullptr;
  if (options.indexAtFront) av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
  rc = avformat_write_header(output.get(), &muxerOptions);
  av_dict_free(&muxerOptions);
  if (rc < 0) throw FFmpegError("couldn't start the output movie", rc);

  const double start = options.startSeconds.value_or(0.0);
  if (options.startSeconds && start > 0) {
    const auto target = static_cast<std::int64_t>(std::floor(start * AV_TIME_BASE));
    // Backward: land on the key frame at or before the start, which decoding needs.
    if (av_seek_frame(input.get(), -1, target, AVSEEK_FLAG_BACKWARD) < 0) {
      av_seek_frame(input.get(), -1, 0, AVSEEK_FLAG_BACKWARD);
    }
  }

  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!packet) throw FFmpegError("out of memory for the output movie");
  std::vector<bool> finished(input->nb_streams, false);
  while ((rc = av_read_frame(input.get(), packet.get())) >= 0) {
    const int in = packet->stream_index;
    if (in < 0 || static_cast<unsigned>(in) >= input->nb_streams || streamMap[in] < 0 || finished[in] ||
        packet->pts == AV_NOPTS_VALUE) {
      av_packet_unref(packet.get());
      continue;
    }
    const AVRational tb = input->streams[in]->time_base;
    const double pts = static_cast<double>(packet->pts) * av_q2d(tb);
    const double end = pts + static_cast<double>(packet->duration) * av_q2d(tb);
    if (options.endSeconds && pts >= *options.endSeconds - 1e-9) {
      finished[in] = true;
      av_packet_unref(packet.get());
      continue;
    }
    // Audio wholly before the start is not needed; video from the key frame on is.
    if (in != videoStream && end <= start + 1e-9 && options.startSeconds) {
      av_packet_unref(packet.get());
      continue;
    }
    const auto shift = static_cast<std::int64_t>(std::llround(start / av_q2d(tb)));
    packet->pts -= shift;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts -= shift;
    packet->stream_index = streamMap[in];
    packet->pos = -1;
    av_packet_rescale_ts(packet.get(), tb, output->streams[streamMap[in]]->time_base);
    rc = av_interleaved_write_frame(output.get(), packet.get());
    if (rc < 0) throw FFmpegError("couldn't write the output movie", rc);
  }
  if (rc != AVERROR_EOF && rc < 0) {
    // A file cut off mid-recording ends in a damaged fragment: keep what was read.
    if (rc != AVERROR_INVALIDDATA) throw FFmpegError("couldn't read the movie", rc);
  }
  rc = av_write_trailer(output.get());
  if (rc < 0) throw FFmpegError("couldn't finish the output movie", rc);
  rc = avio_closep(&output->pb);
  if (rc < 0) throw FFmpegError("couldn't close the output movie", rc);
}

}  // namespace

void MovieRemuxer::remux(const std::filesystem::path& source, const std::filesystem::path& destination,
                         const RemuxOptions& options) {
  routeFFmpegLogs();
  const auto temporary = temporaryPathFor(destination);
  std::error_code ignored;
  try {
    copyPackets(source, temporary, options);
  } catch (...) {
    std::filesystem::remove(temporary, ignored);
    throw;
  }
  syncPath(temporary, false);
  std::error_code error;
  std::filesystem::rename(temporary, destination, error);
  if (error) {
    std::filesystem::remove(temporary, ignored);
    throw FFmpegError("couldn't move the finished movie into place (" + error.message() + ")");
  }
  syncPath(destination.parent_path().empty() ? "." : destination.parent_path(), true);
}

}  // namespace tolvane
