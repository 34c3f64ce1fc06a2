#include "server/media_probe.h"

#include <algorithm>
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
  // An upload may be anything: an HLS playlist or a concat script naming other files, a
  // file that claims some other format. It is opened only as MP4/QuickTime (the mov
  // demuxer, forced rather than guessed) and only through the file protocol, with the
  // demuxer's external data references off, so probing never reads any other file.
  const AVInputFormat* mov = av_find_input_format("mov");
  if (mov == nullptr) return result;
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) return result;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", "mov,mp4,m4a,3gp,3g2,mj2", 0);
  av_dict_set(&options, "enable_drefs", "0", 0);
  const std::string url = "file:" + std::filesystem::absolute(file).string();
  const int opened = avformat_open_input(&raw, url.c_str(), mov, &options);
  av_dict_free(&options);
  if (opened != 0) return result;
  std::unique_ptr<AVFormatContext, InputCloser> input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return result;

  const bool isMP4Family = input->iformat == mov;
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
