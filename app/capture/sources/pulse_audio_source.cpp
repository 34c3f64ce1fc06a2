#include "app/capture/sources/pulse_audio_source.h"

#include <pulse/pulseaudio.h>

#include "app/capture/sources/capture_source_error.h"
#include "kit/base/clock.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

constexpr int channels = 2;
constexpr std::size_t samplesPerBuffer = PulseAudioSource::framesPerBuffer * channels;

PulseAudioSource* self(void* user) { return static_cast<PulseAudioSource*>(user); }

void unref(pa_operation* operation) {
  if (operation != nullptr) pa_operation_unref(operation);
}

}  // namespace

// The default output's monitor, asked for when the server's defaults change.
void PulseAudioSource::onServerInfo(pa_context* context, const pa_server_info* info, void* user) {
  if (info == nullptr || info->default_sink_name == nullptr) return;
  unref(pa_context_get_sink_info_by_name(
      context, info->default_sink_name,
      [](pa_context*, const pa_sink_info* sink, int eol, void* source) {
        if (eol != 0 || sink == nullptr || sink->monitor_source_name == nullptr) return;
        self(source)->moveTo(sink->monitor_source_name);
      },
      user));
}

PulseAudioSource::PulseAudioSource(Options options) : options_(std::move(options)) {}

PulseAudioSource::~PulseAudioSource() { release(); }

void PulseAudioSource::start(BufferHandler onBuffer, FailureHandler onFailure) {
  onBuffer_ = std::move(onBuffer);
  onFailure_ = std::move(onFailure);
  currentSource_ = options_.sourceName;
  std::string refusal = options_.failureMessage;
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ != nullptr && pa_threaded_mainloop_start(mainloop_) == 0) {
    pa_threaded_mainloop_lock(mainloop_);
    try {
      connect();
      if (!options_.busyMessage.empty() && pa_stream_is_suspended(stream_) == 1) {
        // Our stream would have woken a source that was merely idle; one that stays
        // suspended is held for another application.
        Logger("capture").error("audio source {} is suspended: in use by another application", currentSource_);
        refusal = options_.busyMessage;
      } else {
        if (options_.followsDefaultOutput) followDefaultOutput();
        running_ = true;
        pa_threaded_mainloop_unlock(mainloop_);
        return;
      }
    } catch (const std::runtime_error& error) {
      Logger("capture").error("couldn't open audio source {}: {}", currentSource_, error.what());
    }
    pa_threaded_mainloop_unlock(mainloop_);
  }
  release();
  throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable, refusal);
}

// Under the main loop's lock; waits (releasing it) until the stream records.
void PulseAudioSource::connect() {
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Tolvane");
  if (context_ == nullptr) throw std::runtime_error("no context");
  pa_context_set_state_callback(
      context_,
      [](pa_context* context, void* user) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
          self(user)->reportFailure(pa_strerror(pa_context_errno(context)));
        }
        pa_threaded_mainloop_signal(self(user)->mainloop_, 0);
      },
      this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    throw std::runtime_error(pa_strerror(pa_context_errno(context_)));
  }
  for (pa_context_state_t state; (state = pa_context_get_state(context_)) != PA_CONTEXT_READY;) {
    if (!PA_CONTEXT_IS_GOOD(state)) throw std::runtime_error(pa_strerror(pa_context_errno(context_)));
    pa_threaded_mainloop_wait(mainloop_);
  }

  const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(CapturedAudio::sampleRate), channels};
  stream_ = pa_stream_new(context_, "Recording", &spec, nullptr);
  if (stream_ == nullptr) throw std::runtime_error(pa_strerror(pa_context_errno(context_)));
  pa_stream_set_state_callback(
      stream_,
      [](pa_stream* stream, void* user) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
          self(user)->reportFailure(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
        }
        pa_threaded_mainloop_signal(self(user)->mainloop_, 0);
      },
      this);
  pa_stream_set_read_callback(
      stream_, [](pa_stream*, std::size_t, void* user) { self(user)->readAvailable(); }, this);
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = samplesPerBuffer * sizeof(float);
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
  if (pa_stream_connect_record(stream_, currentSource_.c_str(), &attributes, flags) < 0) {
    throw std::runtime_error(pa_strerror(pa_context_errno(context_)));
  }
  for (pa_stream_state_t state; (state = pa_stream_get_state(stream_)) != PA_STREAM_READY;) {
    if (!PA_STREAM_IS_GOOD(state)) throw std::runtime_error(pa_strerror(pa_context_errno(context_)));
    pa_threaded_mainloop_wait(mainloop_);
  }
}

// Main loop thread.
void PulseAudioSource::readAvailable() {
  if (stopping_ || stream_ == nullptr) return;
  while (pa_stream_readable_size(stream_) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) {
      reportFailure(pa_strerror(pa_context_errno(context_)));
      return;
    }
    if (bytes == 0) break;
    const std::size_t count = bytes / sizeof(float);
    if (data != nullptr) {
      const auto* samples = static_cast<const float*>(data);
      pending_.insert(pending_.end(), samples, samples + count);
    } else {
      pending_.resize(pending_.size() + count, 0.0f);  // the server lost data: silence keeps the count right
    }
    pa_stream_drop(stream_);
  }
  if (pending_.size() < samplesPerBuffer) return;
  const double now = monotonicSeconds();
  if (framesDelivered_ == 0) {
    // The newest frame was captured `latency` ago, the oldest what we hold before that.
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) < 0 || negative != 0) latency = 0;
    firstFrameTime_ = now - static_cast<double>(latency) / 1e6 -
                      static_cast<double>(pending_.size() / channels) / CapturedAudio::sampleRate;
  }
  while (pending_.size() >= samplesPerBuffer) deliver(now);
}

// Main loop thread: hands on the oldest whole buffer held.
void PulseAudioSource::deliver(double now) {
  CapturedAudio buffer;
  buffer.channels = channels;
  buffer.samples.assign(pending_.begin(), pending_.begin() + samplesPerBuffer);
  pending_.erase(pending_.begin(), pending_.begin() + samplesPerBuffer);
  buffer.presentationTime = firstFrameTime_ + static_cast<double>(framesDelivered_) / CapturedAudio::sampleRate;
  // What came in after this buffer was captured after it: it was complete that much earlier.
  buffer.arrivalTime = now - static_cast<double>(pending_.size() / channels) / CapturedAudio::sampleRate;
  framesDelivered_ += framesPerBuffer;
  onBuffer_(buffer);
}

// Main loop thread. Once only, and never before start() has returned or once stopping.
void PulseAudioSource::reportFailure(const std::string& reason) {
  if (!running_ || failed_ || stopping_) return;
  failed_ = true;
  Logger("capture").error("audio source {} stopped: {}", currentSource_, reason);
  onFailure_(options_.failureMessage);
}

// Under the main loop's lock: hears of every change of the server's defaults and moves
// the stream to the default output's monitor, now and whenever it changes.
void PulseAudioSource::followDefaultOutput() {
  pa_context_set_subscribe_callback(
      context_,
      [](pa_context* context, pa_subscription_event_type_t event, std::uint32_t, void* user) {
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
        unref(pa_context_get_server_info(context, onServerInfo, user));
      },
      this);
  unref(pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
}

// Main loop thread.
void PulseAudioSource::moveTo(const std::string& monitorName) {
  if (stopping_ || stream_ == nullptr || monitorName == currentSource_) return;
  Logger("capture").info("the computer's sound now comes from {}", monitorName);
  currentSource_ = monitorName;
  unref(pa_context_move_source_output_by_name(context_, pa_stream_get_index(stream_), monitorName.c_str(), nullptr,
                                              nullptr));
}

void PulseAudioSource::stop() { release(); }

// Nothing here waits for the server: the stream and the connection are dropped on our
// side, and the main loop's thread is woken and joined.
void PulseAudioSource::release() {
  if (mainloop_ == nullptr) return;
  pa_threaded_mainloop_lock(mainloop_);
  stopping_ = true;
  if (stream_ != nullptr) {
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  pa_threaded_mainloop_unlock(mainloop_);
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
  mainloop_ = nullptr;
}

}  // namespace tolvane
