#include "server/media_probe.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace tolvane::server {
namespace {

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

}  // namespace

ProbeResult MediaProbe::probe(const std::filesystem::path& file) {
  ProbeResult result;
  // Uploaded files are anyone's bytes; libav's own complaints about them are noise here.
  av_log_set_level(AV_LOG_FATAL);
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) != 0) return result;
  std::unique_ptr<AVFormatContext, InputCloser> input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return result;

  // The mov demuxer serves MP4, QuickTime and 3GP alike; its name list starts with "mov,mp4".
  const bool isMP4Family = input->iformat != nullptr && std::strstr(input->iformat->name, "mp4") != nullptr;
  bool hasVideo = false;
  double streamDuration = 0;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
    if (avcodec_find_decoder(stream->codecpar->codec_id) == nullptr) continue;
    if (stream->codecpar->width <= 0 || stream->codecpar->height <= 0) continue;
    hasVideo = true;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
      streamDuration = std::max(streamDuration, double(stream->duration) * av_q2d(stream->time_base));
    }
  }
  if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
    result.durationSec = double(input->duration) / AV_TIME_BASE;
  } else if (streamDuration > 0) {
    result.durationSec = streamDuration;
  }
  result.isPlayableMP4 = isMP4Family && hasVideo && result.durationSec.has_value();
  return result;
}

}  // namespace tolvane::server
