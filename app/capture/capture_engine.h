#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/capture/audio_drift_corrector.h"
#include "app/capture/camera_preview_feed.h"
#include "app/capture/capture_engine_delegate.h"
#include "app/capture/capture_error.h"
#include "app/capture/frame_compositor.h"
#include "app/capture/recording_clock.h"
#include "app/capture/recording_options.h"
#include "app/capture/source_gate.h"
#include "app/capture/sources/source_factory.h"
#include "kit/base/geometry.h"
#include "kit/base/log.h"
#include "kit/base/serial_queue.h"
#include "kit/media/audio_mix_buffer.h"
#include "kit/media/movie_writer.h"

namespace tolvane {

// Runs one recording from start to finish: captures the target (with the cursor), the
// computer's sound, one microphone and one camera; puts every sample on one recording
// clock that excludes paused time; composites the camera bubble, the annotations and
// blur regions into each screen frame; re-sends the last frame while the screen is
// static; mixes the sound into one stereo track a fixed latency behind real time; and
// writes everything into one movie file. One engine serves one recording.
//
// Threads: screen frames and the idle-frame timer run on the queue
// "com.tolvanelabs.Tolvane.capture.video", both sounds and the audio drain timer on
// ".capture.audio", camera frames on ".capture.camera"; the movie writer has its own.
// start(), stop() and stopImmediately() block their caller; pause(), resume() and
// updateAnnotations() return at once. Every public method is thread-safe. The engine
// must not be destroyed from its delegate's callback.
class CaptureEngine {
 public:
  // What the engine measured, for the command line and the benchmarks.
  struct Statistics {
    std::int64_t framesWritten = 0;   // video frames the writer encoded
    std::int64_t framesDropped = 0;   // frames the writer had no room for, plus composited
                                      // frames without a pool buffer
    std::int64_t framesSkipped = 0;   // screen frames that found the video queue full
    std::int64_t framesRepeated = 0;  // frames the idle timer re-sent for a static screen
    std::int64_t microphoneFrames = 0;   // audio frames the microphone gave the mix
    std::int64_t systemAudioFrames = 0;  // audio frames the computer's sound gave the mix
    std::int64_t audioFramesLate = 0;    // audio frames that came after their time was written
  };

  // Stores everything; starts nothing. `sources` opens the screen, sounds and camera;
  // `hostSeconds` is the host's monotonic clock in seconds (replaceable for tests).
  CaptureEngine(RecordingOptions options, std::filesystem::path outputPath, std::shared_ptr<SourceFactory> sources,
                std::function<double()> hostSeconds = nullptr);
  // Stops capture if still running and releases everything; a file that was not
  // finished with stop() is left as far as it got.
  ~CaptureEngine();
  CaptureEngine(const CaptureEngine&) = delete;
  CaptureEngine& operator=(const CaptureEngine&) = delete;

  void setDelegate(std::weak_ptr<CaptureEngineDelegate> delegate);

  // Creates the file, starts the microphone and camera, then the screen (and the
  // computer's sound); returns once the screen delivers. Throws CaptureError, the
  // writer's WriterError (cannotCreate), or the sources' own error unchanged
  // (CaptureSourceError when the X server or the sound server cannot be reached). Called
  // once; after a throw the engine is dropped, not reused.
  void start();

  void pause();
  void resume();
  bool isPaused() const;

  // Stops capture, writes out the remaining sound, finishes the file and returns the
  // recording's duration in seconds. A second call returns the duration at once.
  double stop();
  // Last-resort stop for quitting and termination signals: returns within
  // immediateStopLimit even when a source hangs (that source is left behind, see
  // SourceShutdown); the sound still in the mixer is not written, and the file is closed
  // as far as the writer gets in the time left.
  void stopImmediately();

  // Replaces the annotation overlay (at any size; it is scaled to the video) and the
  // blur regions (unit coordinates of the frame, top-left origin). Applies from the next
  // frame on.
  void updateAnnotations(VideoFrame image, std::vector<Rect> blurRects);

  // The video's pixel size, fixed by start().
  Size outputSize() const;
  // Recording time of the newest frame written, in seconds.
  double duration() const;
  const RecordingOptions& options() const { return options_; }
  const std::filesystem::path& outputPath() const { return outputPath_; }
  Statistics statistics() const;
  // Sentences for the user about sound the recording goes on without (the computer's
  // sound could not be found, a source stopped), in the order they happened.
  std::vector<std::string> notices() const;
  // Whether the writer would take another video frame now (false while its encoder is
  // behind and would drop it). Lets a test or a benchmark pace what it sends.
  bool isWriterReady() const;

  // The video size for a target of w × h: scaled down (never up) so that the longer side
  // is at most maxLongEdge, each side even and at least 2.
  static Size outputSize(int width, int height, int maxLongEdge);

  // What the two timers do on each tick; public so that tests can tick them at chosen
  // clock times. Both run on their own queue and return when done.
  void fireIdleFrameTimer();
  void fireAudioDrainTimer();

  // Timer periods and the screen queue's depth.
  static constexpr double idleFrameInterval = 0.2;       // seconds
  static constexpr double idleFrameThreshold = 0.18;     // seconds without a new frame
  static constexpr double audioDrainInterval = 0.25;     // seconds
  static constexpr int screenQueueDepth = 6;             // frames in flight at most
  static constexpr double sourceStopLimit = 1.0;         // seconds the sources get to stop
  static constexpr double immediateStopLimit = 3.0;      // seconds stopImmediately() takes at most
  static constexpr double cameraPreviewRate = 15;        // copies a second for options.cameraPreview

  // Test hook: no timers are scheduled by start(); the test ticks them itself.
  void setTimersEnabled(bool enabled) { timersEnabled_ = enabled; }
  // Test hook: drained sound goes here instead of to the writer, so that a test can
  // judge hours of it without encoding it. Set before start().
  void setAudioOutput(std::function<void(const AudioMixBuffer::Drained&)> output) { audioOutput_ = std::move(output); }

 private:
  void openMicrophoneAndCamera();
  void startMicrophoneAndCamera();
  void startScreenAndSystemAudio();

  void handleScreenFrame(const ScreenFrame& frame);
  void appendFrame(const VideoFrame& screen, std::optional<double> elapsed, FrameCompositor::ScreenUse use);
  void openSystemAudio();
  void handleAudio(const CapturedAudio& audio, ClockSource source);
  void audioSourceStopped(ClockSource source, const std::string& message);
  void addNotice(std::string sentence);
  void drainAudio(double upTo);
  void flushRemainingAudio();
  void handleCameraFrame(const VideoFrame& frame);
  void idleFrameTick();
  void audioDrainTick();
  void fail(const std::runtime_error& error);
  bool hasAudio() const { return options_.microphoneID.has_value() || options_.includeSystemAudio; }
  bool isStopped();
  // Stops and releases every source, abandoning those still stopping at `deadline`.
  void stopSources(std::chrono::steady_clock::time_point deadline);

  const Logger log_{"capture"};
  const RecordingOptions options_;
  const std::filesystem::path outputPath_;
  const std::shared_ptr<SourceFactory> sourceFactory_;
  bool timersEnabled_ = true;
  std::function<void(const AudioMixBuffer::Drained&)> audioOutput_;

  // The writer from start() on, for callers on other threads; never replaced after.
  const MovieWriter* currentWriter() const;

  // Used by the caller of start()/stop(); the sources are handed over to SourceShutdown
  // when stopping. `writer_` lives as long as the engine, and is set under stateLock_:
  // statistics() may read it from another thread during start().
  std::unique_ptr<MovieWriter> writer_;
  std::unique_ptr<ScreenSource> screen_;
  std::unique_ptr<AudioSource> systemAudio_;
  std::unique_ptr<AudioSource> microphone_;
  std::unique_ptr<CameraSource> camera_;
  std::mutex stopMutex_;  // serialises stop() and stopImmediately()
  // What the sources' handlers hold instead of the engine; closed once they are stopped.
  const std::shared_ptr<SourceGate> gate_ = std::make_shared<SourceGate>();

  FrameCompositor compositor_;  // video queue only
  // The copies for options.cameraPreview; none without one. Outlives the camera queue.
  const std::unique_ptr<CameraPreviewFeed> cameraPreview_;
  AudioMixBuffer mixer_{48000, 2, 0.3, 5.0};

  // Guarded by stateLock_.
  mutable std::mutex stateLock_;
  RecordingClock clock_;
  bool stopped_ = false;
  VideoFrame latestCameraBuffer_;
  VideoFrame lastScreenBuffer_;
  double lastAppendedElapsed_ = -1.0;
  Size outputSize_{0, 0};
  VideoFrame annotationImage_;
  std::vector<Rect> annotationBlurRects_;
  double duration_ = 0;
  std::weak_ptr<CaptureEngineDelegate> delegate_;
  std::vector<std::string> notices_;

  // Written on the audio queue only; read under stateLock_ at stop.
  std::map<int, std::int64_t> audioFramesMixed_;
  int audioFormatRejections_ = 0;
  std::map<int, AudioDriftCorrector> driftCorrectors_;  // audio queue only, by ClockSource
  // Copies of the two counts for statistics() on other threads.
  std::atomic<std::int64_t> microphoneFrames_{0};
  std::atomic<std::int64_t> systemAudioFrames_{0};

  std::atomic<int> screenFramesInFlight_{0};
  std::atomic<std::int64_t> framesSkipped_{0};
  std::atomic<std::int64_t> framesRepeated_{0};
  std::atomic<std::int64_t> compositeDrops_{0};

  SerialQueue::Timer audioDrainTimer_;
  SerialQueue::Timer idleFrameTimer_;
  // Last: the queues stop (and finish their tasks) before the state above goes away.
  SerialQueue videoQueue_{"com.tolvanelabs.Tolvane.capture.video"};
  SerialQueue audioQueue_{"com.tolvanelabs.Tolvane.capture.audio"};
  SerialQueue cameraQueue_{"com.tolvanelabs.Tolvane.capture.camera"};
};

}  // namespace tolvane
