#include "app/capture/sources/pulse_audio_source.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include "app/capture/sources/capture_source_error.h"
#include "kit/base/clock.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

constexpr int channels = 2;
constexpr int framesPerBuffer = 480;  // 10 ms at 48 kHz

}  // namespace

PulseAudioSource::PulseAudioSource(std::string sourceName, std::string failureMessage)
    : sourceName_(std::move(sourceName)), failureMessage_(std::move(failureMessage)) {}

PulseAudioSource::~PulseAudioSource() { stop(); }

void PulseAudioSource::start(BufferHandler onBuffer, FailureHandler onFailure) {
  onBuffer_ = std::move(onBuffer);
  onFailure_ = std::move(onFailure);
  pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(CapturedAudio::sampleRate), channels};
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.fragsize = framesPerBuffer * channels * sizeof(float);
  int error = 0;
  stream_ = pa_simple_new(nullptr, "Tolvane", PA_STREAM_RECORD, sourceName_.c_str(), "Recording", &spec, nullptr,
                          &attributes, &error);
  if (stream_ == nullptr) {
    Logger("capture").error("couldn't open audio source {}: {}", sourceName_, pa_strerror(error));
    throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable, failureMessage_);
  }
  thread_ = std::thread([this] { run(); });
}

void PulseAudioSource::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (stream_ != nullptr) {
    pa_simple_free(stream_);
    stream_ = nullptr;
  }
}

void PulseAudioSource::run() {
  std::int64_t framesDelivered = 0;
  double firstFrameTime = 0;
  while (!stopping_) {
    CapturedAudio buffer;
    buffer.channels = channels;
    buffer.samples.resize(framesPerBuffer * channels);
    int error = 0;
    if (pa_simple_read(stream_, buffer.samples.data(), buffer.samples.size() * sizeof(float), &error) < 0) {
      Logger("capture").error("audio source {} stopped: {}", sourceName_, pa_strerror(error));
      onFailure_(failureMessage_);
      return;
    }
    if (framesDelivered == 0) {
      // The first buffer's last frame was captured `latency` ago; its first one a
      // buffer's length before that.
      pa_usec_t latency = pa_simple_get_latency(stream_, &error);
      if (latency == static_cast<pa_usec_t>(-1)) latency = 0;
      firstFrameTime = monotonicSeconds() - static_cast<double>(latency) / 1e6 - buffer.duration();
    }
    buffer.presentationTime = firstFrameTime + static_cast<double>(framesDelivered) / CapturedAudio::sampleRate;
    framesDelivered += buffer.frameCount();
    onBuffer_(buffer);
  }
}

}  // namespace tolvane
