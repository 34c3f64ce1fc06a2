#include "app/capture/sources/camera_frame_decoder.h"

#include <libyuv/convert_argb.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <vector>

namespace tolvane {

struct CameraFrameDecoder::FFmpegDecoder {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  std::vector<std::uint8_t> padded;  // FFmpeg reads a little past the end of the data

  FFmpegDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) return;
    context = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (context != nullptr && avcodec_open2(context, codec, nullptr) < 0) avcodec_free_context(&context);
  }
  ~FFmpegDecoder() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
  }
  FFmpegDecoder(const FFmpegDecoder&) = delete;
  FFmpegDecoder& operator=(const FFmpegDecoder&) = delete;
};

CameraFrameDecoder::CameraFrameDecoder(CameraPixelFormat format, int width, int height, int bytesPerLine)
    : format_(format), width_(width), height_(height), bytesPerLine_(bytesPerLine) {}

CameraFrameDecoder::~CameraFrameDecoder() = default;

bool CameraFrameDecoder::decode(const std::uint8_t* data, std::size_t size, const VideoFrame& destination) {
  if (data == nullptr || width_ <= 0 || height_ <= 0 || destination.width() != width_ ||
      destination.height() != height_) {
    return false;
  }
  if (format_ == CameraPixelFormat::yuyv) {
    if (bytesPerLine_ < width_ * 2 ||
        size < static_cast<std::size_t>(bytesPerLine_) * static_cast<std::size_t>(height_)) {
      return false;
    }
    return libyuv::YUY2ToARGB(data, bytesPerLine_, destination.data(), destination.stride(), width_, height_) == 0;
  }
  return decodeWithFFmpeg(data, size, destination);
}

bool CameraFrameDecoder::decodeWithFFmpeg(const std::uint8_t* data, std::size_t size,
                                          const VideoFrame& destination) {
  if (!ffmpeg_) ffmpeg_ = std::make_unique<FFmpegDecoder>();
  FFmpegDecoder& d = *ffmpeg_;
  if (d.context == nullptr || d.packet == nullptr || d.frame == nullptr) return false;

  d.padded.assign(data, data + size);
  d.padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  d.packet->data = d.padded.data();
  d.packet->size = static_cast<int>(size);
  bool sent = avcodec_send_packet(d.context, d.packet) == 0;
  d.packet->data = nullptr;
  d.packet->size = 0;
  if (!sent || avcodec_receive_frame(d.context, d.frame) != 0) return false;

  const AVFrame* f = d.frame;
  bool decoded = false;
  if (f->width == width_ && f->height == height_) {
    std::uint8_t* out = destination.data();
    int stride = destination.stride();
    // Camera JPEGs are full range ("J"); the limited-range variants are handled alike.
    switch (f->format) {
      case AV_PIX_FMT_YUVJ420P:
        decoded = libyuv::J420ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2],
                                     f->linesize[2], out, stride, width_, height_) == 0;
        break;
      case AV_PIX_FMT_YUVJ422P:
        decoded = libyuv::J422ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2],
                                     f->linesize[2], out, stride, width_, height_) == 0;
        break;
      case AV_PIX_FMT_YUVJ444P:
        decoded = libyuv::J444ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2],
                                     f->linesize[2], out, stride, width_, height_) == 0;
        break;
      case AV_PIX_FMT_YUV420P:
        decoded = libyuv::I420ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2],
                                     f->linesize[2], out, stride, width_, height_) == 0;
        break;
      case AV_PIX_FMT_YUV422P:
        decoded = libyuv::I422ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2],
                                     f->linesize[2], out, stride, width_, height_) == 0;
        break;
      case AV_PIX_FMT_GRAY8:
        decoded = libyuv::J400ToARGB(f->data[0], f->linesize[0], out, stride, width_, height_) == 0;
        break;
      default:
        break;
    }
  }
  av_frame_unref(d.frame);
  return decoded;
}

}  // namespace tolvane
