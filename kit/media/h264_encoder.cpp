#include "kit/media/h264_encoder.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cstring>

#include "kit/media/ffmpeg_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace tolvane {

// Screen content is mostly static with bursts of motion, and the encoder has to keep up
// in real time on two cores beside capture and compositing. bench/media/writer_benchmark
// measures CPU-seconds per second of 30 fps screen-like video (1080p / 1440p):
// "superfast" 0.32 / 0.48, "veryfast" 0.42 / 0.69, "faster" 0.65 (1080p). "superfast" keeps
// the High profile tools (CABAC, 8×8 transforms) at about 70% of the cost of "veryfast";
// "ultrafast" (0.19) drops them and is no longer High profile. "zerolatency" costs about
// the same as no tune but removes the look-ahead and frame-threading delay, so every
// frame reaches the file within the fragment it belongs to (what a crash leaves behind).
const char* const H264Encoder::defaultPreset = "superfast";
const char* const H264Encoder::defaultTune = "zerolatency";

namespace {

constexpr double kMaxKeyFrameSpacingSeconds = 2.0;

}  // namespace

H264Encoder::H264Encoder(const VideoSettings& settings) : settings_(settings) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) throw FFmpegError("the H.264 encoder (libx264) is not available");
  context_ = avcodec_alloc_context3(codec);
  picture_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (context_ == nullptr || picture_ == nullptr || packet_ == nullptr) {
    avcodec_free_context(&context_);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
    throw FFmpegError("out of memory for the video encoder");
  }
  context_->width = settings.width;
  context_->height = settings.height;
  context_->pix_fmt = AV_PIX_FMT_YUV420P;
  context_->time_base = AVRational{1, timeBase};
  context_->framerate = AVRational{settings.frameRate, 1};
  context_->bit_rate = settings.bitRate;
  context_->gop_size = settings.maxKeyFrameInterval;
  context_->max_b_frames = 0;
  context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  context_->thread_count = 0;
  // libyuv's ARGBToI420 uses the BT.601 matrix in limited range; say so in the stream.
  context_->colorspace = AVCOL_SPC_SMPTE170M;
  context_->color_range = AVCOL_RANGE_MPEG;
  context_->color_primaries = AVCOL_PRI_BT709;
  context_->color_trc = AVCOL_TRC_IEC61966_2_1;
  const std::string preset = settings.preset.empty() ? defaultPreset : settings.preset;
  const std::string tune = settings.tune.empty() ? defaultTune : settings.tune;
  av_opt_set(context_->priv_data, "preset", preset.c_str(), 0);
  if (tune != "none") av_opt_set(context_->priv_data, "tune", tune.c_str(), 0);
  av_opt_set(context_->priv_data, "profile", "high", 0);
  av_opt_set(context_->priv_data, "forced-idr", "1", 0);
  frameDuration_ = std::max<std::int64_t>(1, timeBase / std::max(1, settings.frameRate));

  int rc = avcodec_open2(context_, codec, nullptr);
  if (rc >= 0) {
    picture_->format = AV_PIX_FMT_YUV420P;
    picture_->width = settings.width;
    picture_->height = settings.height;
    rc = av_frame_get_buffer(picture_, 64);
  }
  if (rc < 0) {
    avcodec_free_context(&context_);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
    throw FFmpegError("the H.264 encoder refused the video settings", rc);
  }
}

H264Encoder::~H264Encoder() {
  avcodec_free_context(&context_);
  av_frame_free(&picture_);
  av_packet_free(&packet_);
}

void H264Encoder::convert(const VideoFrame& frame) {
  const int width = settings_.width;
  const int height = settings_.height;
  const int copyWidth = std::min(width, frame.width()) & ~1;
  const int copyHeight = std::min(height, frame.height()) & ~1;
  if (copyWidth < width || copyHeight < height) {
    // A smaller frame leaves black around it rather than stale pixels.
    libyuv::SetPlane(picture_->data[0], picture_->linesize[0], width, height, 16);
    libyuv::SetPlane(picture_->data[1], picture_->linesize[1], width / 2, height / 2, 128);
    libyuv::SetPlane(picture_->data[2], picture_->linesize[2], width / 2, height / 2, 128);
  }
  if (copyWidth <= 0 || copyHeight <= 0) return;
  // In memory, BGRA bytes are what libyuv calls ARGB (a little-endian 0xAARRGGBB word).
  libyuv::ARGBToI420(frame.data(), frame.stride(), picture_->data[0], picture_->linesize[0], picture_->data[1],
                     picture_->linesize[1], picture_->data[2], picture_->linesize[2], copyWidth, copyHeight);
}

void H264Encoder::encode(const VideoFrame& frame, std::int64_t pts, const PacketSink& sink) {
  int rc = av_frame_make_writable(picture_);
  if (rc < 0) throw FFmpegError("couldn't prepare a video frame", rc);
  convert(frame);
  picture_->pts = pts;
  // x264 counts its key-frame interval in frames, but frames arrive at a variable rate
  // (a static screen repeats at about 5 per second), so force a key frame by time: on
  // the frame after which the next one at the nominal rate would pass 2 s.
  const auto limit = static_cast<std::int64_t>(kMaxKeyFrameSpacingSeconds * timeBase);
  const bool keyDue = lastKeyFramePts_ < 0 || pts + frameDuration_ - lastKeyFramePts_ > limit;
  picture_->pict_type = keyDue ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (keyDue) lastKeyFramePts_ = pts;
  rc = avcodec_send_frame(context_, picture_);
  if (rc < 0) throw FFmpegError("the video encoder refused a frame", rc);
  drain(sink);
}

void H264Encoder::flush(const PacketSink& sink) {
  const int rc = avcodec_send_frame(context_, nullptr);
  if (rc < 0 && rc != AVERROR_EOF) throw FFmpegError("couldn't flush the video encoder", rc);
  drain(sink);
}

void H264Encoder::drain(const PacketSink& sink) {
  while (true) {
    const int rc = avcodec_receive_packet(context_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    if (rc < 0) throw FFmpegError("the video encoder failed", rc);
    if (packet_->flags & AV_PKT_FLAG_KEY) lastKeyFramePts_ = std::max(lastKeyFramePts_, packet_->pts);
    packet_->duration = frameDuration_;
    sink(*packet_);
    av_packet_unref(packet_);
  }
}

}  // namespace tolvane
