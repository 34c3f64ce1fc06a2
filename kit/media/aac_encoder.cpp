#include "kit/media/aac_encoder.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kit/media/ffmpeg_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace tolvane {
namespace {

// Jitter below this (2 ms at 48 kHz) is not worth a gap or a cut.
constexpr std::int64_t kToleranceSamples = 96;

AVSampleFormat sampleFormatOf(const AudioFormat& format) {
  const bool planar = !format.isInterleaved;
  switch (format.sampleType) {
    case SampleType::float32:
      return planar ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
    case SampleType::int16:
      return planar ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16;
    case SampleType::int32:
      return planar ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S32;
  }
  return AV_SAMPLE_FMT_NONE;
}

}  // namespace

AacEncoder::AacEncoder(const AudioSettings& settings) : settings_(settings) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (codec == nullptr) throw FFmpegError("the AAC encoder is not available");
  context_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  int rc = AVERROR(ENOMEM);
  if (context_ != nullptr && frame_ != nullptr && packet_ != nullptr) {
    context_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context_->sample_rate = settings.sampleRate;
    av_channel_layout_default(&context_->ch_layout, settings.channels);
    context_->bit_rate = settings.bitRate;
    context_->time_base = AVRational{1, settings.sampleRate};
    context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(context_, codec, nullptr);
  }
  if (rc >= 0) {
    fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings.channels, context_->frame_size * 4);
    if (fifo_ == nullptr) rc = AVERROR(ENOMEM);
  }
  if (rc < 0) {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    throw FFmpegError("the AAC encoder refused the audio settings", rc);
  }
}

AacEncoder::~AacEncoder() {
  swr_free(&resampler_);
  if (fifo_ != nullptr) av_audio_fifo_free(fifo_);
  avcodec_free_context(&context_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
}

bool AacEncoder::configureResampler(const AudioFormat& format) {
  if (resampler_ != nullptr && format == resamplerFormat_) return true;
  swr_free(&resampler_);
  AVChannelLayout inLayout;
  av_channel_layout_default(&inLayout, format.channels);
  const int rc = swr_alloc_set_opts2(&resampler_, &context_->ch_layout, AV_SAMPLE_FMT_FLTP, settings_.sampleRate,
                                     &inLayout, sampleFormatOf(format), static_cast<int>(std::lround(format.sampleRate)),
                                     0, nullptr);
  av_channel_layout_uninit(&inLayout);
  if (rc < 0 || swr_init(resampler_) < 0) {
    swr_free(&resampler_);
    return false;
  }
  resamplerFormat_ = format;
  return true;
}

void AacEncoder::pushSilence(std::int64_t samples) {
  std::vector<float> zeros(static_cast<std::size_t>(std::min<std::int64_t>(samples, 4800)), 0.0f);
  std::vector<void*> planes(static_cast<std::size_t>(settings_.channels), zeros.data());
  while (samples > 0) {
    const int chunk = static_cast<int>(std::min<std::int64_t>(samples, static_cast<std::int64_t>(zeros.size())));
    if (av_audio_fifo_write(fifo_, planes.data(), chunk) < chunk) throw FFmpegError("out of memory for audio");
    samples -= chunk;
  }
}

void AacEncoder::encode(const AudioBuffer& buffer, MediaTime sessionStart, const PacketSink& sink) {
  const AudioFormat& format = buffer.format();
  if (buffer.frameCount() <= 0 || format.channels <= 0 || format.sampleRate <= 0) return;
  const std::size_t planesNeeded = format.isInterleaved ? 1 : static_cast<std::size_t>(format.channels);
  if (buffer.planeCount() < planesNeeded) return;
  for (std::size_t p = 0; p < planesNeeded; ++p) {
    if (buffer.plane(p).size() < buffer.expectedPlaneBytes()) return;
  }
  if (!configureResampler(format)) throw FFmpegError("the audio format can't be converted for AAC");

  // Where this buffer belongs on the track, in output samples.
  const double offsetSeconds = buffer.presentationTime().seconds() - sessionStart.seconds();
  std::int64_t position = std::llround(offsetSeconds * settings_.sampleRate);

  const int outCapacity = swr_get_out_samples(resampler_, static_cast<int>(buffer.frameCount()));
  std::vector<std::vector<float>> converted(static_cast<std::size_t>(settings_.channels),
                                            std::vector<float>(static_cast<std::size_t>(std::max(outCapacity, 1))));
  std::vector<std::uint8_t*> outPlanes;
  for (auto& plane : converted) outPlanes.push_back(reinterpret_cast<std::uint8_t*>(plane.data()));
  std::vector<const std::uint8_t*> inPlanes;
  for (std::size_t p = 0; p < planesNeeded; ++p) inPlanes.push_back(reinterpret_cast<const std::uint8_t*>(buffer.plane(p).data()));
  const int produced = swr_convert(resampler_, outPlanes.data(), outCapacity, inPlanes.data(),
                                   static_cast<int>(buffer.frameCount()));
  if (produced < 0) throw FFmpegError("couldn't convert audio for AAC", produced);

  std::int64_t skip = 0;
  if (nextSample_ < 0) {
    nextSample_ = std::max<std::int64_t>(position, 0);
    encodedSample_ = nextSample_;
    firstSample_ = nextSample_;
    skip = nextSample_ - position;
  } else if (position > nextSample_ + kToleranceSamples) {
    pushSilence(position - nextSample_);
    nextSample_ = position;
  } else if (position < nextSample_ - kToleranceSamples) {
    skip = nextSample_ - position;
  }
  if (skip < produced) {
    std::vector<void*> planes;
    for (auto& plane : converted) planes.push_back(plane.data() + skip);
    const int count = static_cast<int>(produced - skip);
    if (av_audio_fifo_write(fifo_, planes.data(), count) < count) throw FFmpegError("out of memory for audio");
    nextSample_ += count;
  }
  encodeQueued(false, sink);
}

void AacEncoder::flush(const PacketSink& sink) {
  encodeQueued(true, sink);
  const int rc = avcodec_send_frame(context_, nullptr);
  if (rc < 0 && rc != AVERROR_EOF) throw FFmpegError("couldn't flush the audio encoder", rc);
  drain(sink);
}

void AacEncoder::encodeQueued(bool final, const PacketSink& sink) {
  const int frameSize = context_->frame_size;
  while (av_audio_fifo_size(fifo_) >= frameSize || (final && av_audio_fifo_size(fifo_) > 0)) {
    const int count = std::min(frameSize, av_audio_fifo_size(fifo_));
    av_frame_unref(frame_);
    frame_->nb_samples = count;
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = settings_.sampleRate;
    av_channel_layout_copy(&frame_->ch_layout, &context_->ch_layout);
    int rc = av_frame_get_buffer(frame_, 0);
    if (rc < 0) throw FFmpegError("out of memory for audio", rc);
    if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), count) < count) {
      throw FFmpegError("couldn't read queued audio");
    }
    frame_->pts = encodedSample_;
    encodedSample_ += count;
    rc = avcodec_send_frame(context_, frame_);
    if (rc < 0) throw FFmpegError("the audio encoder refused a frame", rc);
    drain(sink);
  }
}

void AacEncoder::drain(const PacketSink& sink) {
  while (true) {
    const int rc = avcodec_receive_packet(context_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    if (rc < 0) throw FFmpegError("the audio encoder failed", rc);
    // The first packet only carries the encoder's priming (it is stamped before the first sample).
    // Dropping it keeps every timestamp non-negative, so the fragmented file needs no
    // edit list and audio stays in sync with video; the decoder warms up on the first
    // real frame, which costs at most a few milliseconds of fidelity at the very start.
    if (packet_->pts < firstSample_) {
      av_packet_unref(packet_);
      continue;
    }
    sink(*packet_);
    av_packet_unref(packet_);
  }
}

}  // namespace tolvane
