#include "kit/media/media_probe.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <system_error>

#include "kit/media/ffmpeg_error.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tolvane {
namespace {

struct InputCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

}  // namespace

double probeDuration(const std::filesystem::path& path) {
  routeFFmpegLogs();
  std::error_code error;
  const auto fileSize = std::filesystem::file_size(path, error);
  if (error || fileSize == 0) return 0;

  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return 0;
  std::unique_ptr<AVFormatContext, InputCloser> input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return 0;

  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!packet) return 0;
  double first = std::numeric_limits<double>::infinity();
  double last = -std::numeric_limits<double>::infinity();
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const AVStream* stream = input->streams[packet->stream_index];
    const auto type = stream->codecpar->codec_type;
    const bool counts = (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) &&
                        packet->pts != AV_NOPTS_VALUE &&
                        // Samples an edit list hides, and samples whose bytes lie past the
                        // end of a cut-off file, are not part of what plays.
                        !(packet->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT)) &&
                        !(packet->pos >= 0 && static_cast<std::uintmax_t>(packet->pos) + packet->size > fileSize);
    if (counts) {
      const double tb = av_q2d(stream->time_base);
      const double start = static_cast<double>(packet->pts) * tb;
      const double end = static_cast<double>(packet->pts + std::max<std::int64_t>(packet->duration, 0)) * tb;
      first = std::min(first, start);
      last = std::max(last, end);
    }
    av_packet_unref(packet.get());
  }
  // Presentation begins at zero: a packet that starts earlier (audio priming, or the
  // part of a trimmed file's first packet that its edit list skips) only plays from there.
  const double duration = last - std::max(first, 0.0);
  if (!std::isfinite(duration) || duration <= 0) return 0;
  return duration;
}

}  // namespace tolvane
