#include "kit/media/thumbnail_maker.h"

#include <libyuv/convert.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "kit/media/ffmpeg_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

namespace tolvane {
namespace {

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

Frame newFrame() {
  Frame frame(av_frame_alloc());
  if (!frame) throw FFmpegError("out of memory for a picture");
  return frame;
}

Packet newPacket() {
  Packet packet(av_packet_alloc());
  if (!packet) throw FFmpegError("out of memory for a packet");
  return packet;
}

// The first frame at or after `target` (stream time base), or the last one before the
// end when the movie stops earlier.
Frame decodeFrameAt(AVFormatContext* input, int streamIndex, AVCodecContext* decoder, int64_t target) {
  Packet packet = newPacket();
  Frame frame = newFrame();
  Frame last;
  bool draining = false;
  for (;;) {
    if (!draining) {
      const int read = av_read_frame(input, packet.get());
      if (read < 0) {
        draining = true;
        avcodec_send_packet(decoder, nullptr);
      } else {
        if (packet->stream_index == streamIndex) {
          const int sent = avcodec_send_packet(decoder, packet.get());
          // A damaged packet is skipped; a later one may still decode.
          if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
            av_packet_unref(packet.get());
            throw FFmpegError("decoding the video failed", sent);
          }
        }
        av_packet_unref(packet.get());
      }
    }
    for (;;) {
      const int received = avcodec_receive_frame(decoder, frame.get());
      if (received == AVERROR(EAGAIN)) break;
      if (received == AVERROR_EOF) {
        if (last) return last;
        throw FFmpegError("the movie holds no picture that decodes");
      }
      if (received < 0) {
        if (received == AVERROR_INVALIDDATA) continue;
        throw FFmpegError("decoding the video failed", received);
      }
      const int64_t pts = frame->best_effort_timestamp;
      if (pts == AV_NOPTS_VALUE || pts >= target) return frame;
      last = std::move(frame);
      frame = newFrame();
    }
  }
}

// A planar 4:2:0 copy of `frame`, at `width` × `height`, in full range for the JPEG.
Frame scaledI420(const AVFrame& frame, int width, int height) {
  const auto format = static_cast<AVPixelFormat>(frame.format);
  const int w = frame.width, h = frame.height;
  std::vector<uint8_t> converted;
  const uint8_t* y = frame.data[0];
  const uint8_t* u = frame.data[1];
  const uint8_t* v = frame.data[2];
  int yStride = frame.linesize[0], uStride = frame.linesize[1], vStride = frame.linesize[2];
  if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) {
    const int chromaW = (w + 1) / 2, chromaH = (h + 1) / 2;
    converted.resize(size_t(w) * h + 2 * size_t(chromaW) * chromaH);
    uint8_t* cy = converted.data();
    uint8_t* cu = cy + size_t(w) * h;
    uint8_t* cv = cu + size_t(chromaW) * chromaH;
    int result = -1;
    if (format == AV_PIX_FMT_YUV444P || format == AV_PIX_FMT_YUVJ444P) {
      result = libyuv::I444ToI420(y, yStride, u, uStride, v, vStride, cy, w, cu, chromaW, cv, chromaW, w, h);
    } else if (format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P) {
      result = libyuv::I422ToI420(y, yStride, u, uStride, v, vStride, cy, w, cu, chromaW, cv, chromaW, w, h);
    } else if (format == AV_PIX_FMT_NV12) {
      result = libyuv::NV12ToI420(y, yStride, u, uStride, cy, w, cu, chromaW, cv, chromaW, w, h);
    } else {
      const char* name = av_get_pix_fmt_name(format);
      throw FFmpegError(std::string("the movie's picture format (") + (name ? name : "unknown") +
                        ") is not supported for thumbnails");
    }
    if (result != 0) throw FFmpegError("converting the picture failed");
    y = cy, u = cu, v = cv;
    yStride = w, uStride = vStride = chromaW;
  }

  Frame out = newFrame();
  out->format = AV_PIX_FMT_YUVJ420P;
  out->width = width;
  out->height = height;
  if (const int made = av_frame_get_buffer(out.get(), 0); made < 0)
    throw FFmpegError("out of memory for a picture", made);
  libyuv::I420Scale(y, yStride, u, uStride, v, vStride, w, h, out->data[0], out->linesize[0], out->data[1],
                    out->linesize[1], out->data[2], out->linesize[2], width, height, libyuv::kFilterBox);
  // Video is usually limited range (16–235) and JPEG full range: stretch the luma so
  // the picture is not washed out. Chroma is close enough to leave.
  if (frame.color_range != AVCOL_RANGE_JPEG && format != AV_PIX_FMT_YUVJ420P && format != AV_PIX_FMT_YUVJ444P &&
      format != AV_PIX_FMT_YUVJ422P) {
    for (int row = 0; row < height; ++row) {
      uint8_t* line = out->data[0] + size_t(row) * out->linesize[0];
      for (int col = 0; col < width; ++col) {
        const int value = (int(line[col]) - 16) * 255 / 219;
        line[col] = uint8_t(std::clamp(value, 0, 255));
      }
    }
  }
  return out;
}

std::string encodeJpeg(AVFrame* picture) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (codec == nullptr) throw FFmpegError("the JPEG encoder is not available");
  Codec encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw FFmpegError("out of memory for the JPEG encoder");
  encoder->width = picture->width;
  encoder->height = picture->height;
  encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
  encoder->time_base = AVRational{1, 25};
  encoder->color_range = AVCOL_RANGE_JPEG;
  // A fixed quantiser: about 85 % quality, small enough for a grid of cards.
  encoder->flags |= AV_CODEC_FLAG_QSCALE;
  encoder->global_quality = FF_QP2LAMBDA * 4;
  if (const int opened = avcodec_open2(encoder.get(), codec, nullptr); opened < 0) {
    throw FFmpegError("opening the JPEG encoder failed", opened);
  }
  picture->quality = encoder->global_quality;
  picture->pts = 0;
  if (const int sent = avcodec_send_frame(encoder.get(), picture); sent < 0) {
    throw FFmpegError("encoding the thumbnail failed", sent);
  }
  avcodec_send_frame(encoder.get(), nullptr);
  Packet packet = newPacket();
  if (const int received = avcodec_receive_packet(encoder.get(), packet.get()); received < 0) {
    throw FFmpegError("encoding the thumbnail failed", received);
  }
  return std::string(reinterpret_cast<const char*>(packet->data), size_t(packet->size));
}

}  // namespace

std::string ThumbnailMaker::jpeg(const std::filesystem::path& movie, int maxWidth) {
  routeFFmpegLogs();
  AVFormatContext* opened = nullptr;
  if (const int result = avformat_open_input(&opened, movie.c_str(), nullptr, nullptr); result < 0) {
    throw FFmpegError("opening the movie failed", result);
  }
  Input input(opened);
  if (const int result = avformat_find_stream_info(input.get(), nullptr); result < 0) {
    throw FFmpegError("reading the movie failed", result);
  }
  const AVCodec* codec = nullptr;
  const int streamIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (streamIndex < 0 || codec == nullptr) throw FFmpegError("the movie has no video");
  AVStream* stream = input->streams[streamIndex];

  Codec decoder(avcodec_alloc_context3(codec));
  if (!decoder) throw FFmpegError("out of memory for the video decoder");
  if (const int result = avcodec_parameters_to_context(decoder.get(), stream->codecpar); result < 0) {
    throw FFmpegError("reading the video's parameters failed", result);
  }
  decoder->thread_count = 1;
  if (const int result = avcodec_open2(decoder.get(), codec, nullptr); result < 0) {
    throw FFmpegError("opening the video decoder failed", result);
  }

  double length = 0;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    length = double(stream->duration) * av_q2d(stream->time_base);
  } else if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
    length = double(input->duration) / AV_TIME_BASE;
  }
  const double at = (length > 0 && length < kFrameTimeSec) ? length / 2 : kFrameTimeSec;
  const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  const int64_t target = start + int64_t(std::llround(at / av_q2d(stream->time_base)));
  // A failed seek just decodes from the start.
  av_seek_frame(input.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD);

  Frame frame = decodeFrameAt(input.get(), streamIndex, decoder.get(), target);
  if (frame->width <= 0 || frame->height <= 0) throw FFmpegError("the movie's picture has no size");
  const int width = std::max(2, std::min(maxWidth, frame->width) & ~1);
  const int height = std::max(2, int(std::lround(double(frame->height) * width / frame->width)) & ~1);
  Frame picture = scaledI420(*frame, width, height);
  return encodeJpeg(picture.get());
}

void ThumbnailMaker::writeJpeg(const std::filesystem::path& movie, const std::filesystem::path& destination,
                               int maxWidth) {
  const std::string bytes = jpeg(movie, maxWidth);
  std::random_device random;
  const auto temporary =
      destination.parent_path() / ("." + destination.filename().string() + "." + std::to_string(random()) + ".part");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw std::filesystem::filesystem_error("writing the thumbnail failed", temporary,
                                              std::make_error_code(std::errc::io_error));
    }
  }
  std::filesystem::rename(temporary, destination);
}

}  // namespace tolvane
