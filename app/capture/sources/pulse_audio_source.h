#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/capture/sources/audio_source.h"

struct pa_context;
struct pa_server_info;
struct pa_stream;
struct pa_threaded_mainloop;

namespace tolvane {

// Records one PulseAudio source (a microphone, or the monitor of a sink for the
// computer's own sound) as float32 stereo at 48 kHz, in 10 ms buffers, on the thread of
// its own PulseAudio main loop. Nothing blocks on the server: a server that stops
// answering cannot hold up stop(). Presentation times count frames from the first
// buffer's capture time, so consecutive buffers join without gaps or overlaps; each
// buffer also carries its arrival time, for the engine to follow a card whose clock
// runs off the host's.
class PulseAudioSource : public AudioSource {
 public:
  struct Options {
    std::string sourceName;  // the server's name of the source
    // The computer's sound: whenever the user picks another default output (headphones
    // plugged in, a Bluetooth speaker), the stream moves to that output's monitor.
    bool followsDefaultOutput = false;
    std::string failureMessage;  // said when the source cannot be opened or stops delivering
    // Said when another application holds the device (the server keeps the source
    // suspended for it); empty: such a source is recorded as it is.
    std::string busyMessage;
  };

  explicit PulseAudioSource(Options options);
  ~PulseAudioSource() override;
  PulseAudioSource(const PulseAudioSource&) = delete;
  PulseAudioSource& operator=(const PulseAudioSource&) = delete;

  // Throws CaptureSourceError (deviceUnavailable) with the failure or the busy message.
  void start(BufferHandler onBuffer, FailureHandler onFailure) override;
  void stop() override;

  static constexpr std::int64_t framesPerBuffer = 480;  // 10 ms at 48 kHz

 private:
  // All of these run on the main loop's thread, or under its lock.
  void connect();
  void readAvailable();
  void deliver(double arrivalTime);
  void reportFailure(const std::string& reason);
  void followDefaultOutput();
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* user);
  void moveTo(const std::string& monitorName);
  void release();

  Options options_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  BufferHandler onBuffer_;
  FailureHandler onFailure_;
  bool running_ = false;  // start() has succeeded: failures go to the handler
  bool stopping_ = false;
  bool failed_ = false;
  std::vector<float> pending_;  // samples not yet a whole buffer
  std::int64_t framesDelivered_ = 0;
  double firstFrameTime_ = 0;
  std::string currentSource_;
};

}  // namespace tolvane
