#include "app/capture/capture_engine.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "app/capture/source_shutdown.h"
#include "app/capture/sources/capture_source_error.h"
#include "kit/base/clock.h"
#include "kit/media/audio_sample_buffer_factory.h"
#include "kit/media/audio_sample_reader.h"

namespace tolvane {

namespace {

constexpr std::int32_t videoTimescale = 600;

std::chrono::steady_clock::duration seconds(double value) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(value));
}

// The sources speak in their own error type; the engine's callers expect its own,
// except for an unreachable X or sound server, which is passed on unchanged.
[[noreturn]] void rethrowAsCaptureError(const CaptureSourceError& error) {
  switch (error.kind()) {
    case CaptureSourceError::Kind::targetGone:
      throw CaptureError::targetGone(error.what());
    case CaptureSourceError::Kind::deviceUnavailable:
      throw CaptureError::deviceUnavailable(error.what());
    case CaptureSourceError::Kind::streamFailed:
      throw CaptureError::streamStopped(error.what());
    case CaptureSourceError::Kind::serverUnavailable:
      break;
  }
  throw error;
}

template <typename Fn>
auto translatingSourceErrors(Fn&& fn) {
  try {
    return fn();
  } catch (const CaptureSourceError& error) {
    rethrowAsCaptureError(error);
  }
}

// A video time on the writer's timescale: frames are compared by the tick they will be
// written at, so two frames never share one.
double quantized(double elapsed) { return std::round(elapsed * videoTimescale) / videoTimescale; }

}  // namespace

CaptureEngine::CaptureEngine(RecordingOptions options, std::filesystem::path outputPath,
                             std::shared_ptr<SourceFactory> sources, std::function<double()> hostSeconds)
    : options_(std::move(options)),
      outputPath_(std::move(outputPath)),
      sourceFactory_(std::move(sources)),
      cameraPreview_(options_.cameraPreview && options_.cameraID
                         ? std::make_unique<CameraPreviewFeed>(options_.cameraPreview, options_.cameraPreviewSide,
                                                               cameraPreviewRate)
                         : nullptr),
      clock_(hostSeconds ? std::move(hostSeconds) : std::function<double()>(monotonicSeconds)) {}

CaptureEngine::~CaptureEngine() {
  {
    std::lock_guard lock(stateLock_);
    stopped_ = true;
  }
  audioDrainTimer_.cancel();
  idleFrameTimer_.cancel();
  stopSources(std::chrono::steady_clock::now() + seconds(sourceStopLimit));
  videoQueue_.shutdown();
  audioQueue_.shutdown();
  cameraQueue_.shutdown();
}

void CaptureEngine::setDelegate(std::weak_ptr<CaptureEngineDelegate> delegate) {
  std::lock_guard lock(stateLock_);
  delegate_ = std::move(delegate);
}

Size CaptureEngine::outputSize(int width, int height, int maxLongEdge) {
  const double longEdge = std::max(width, height);
  const double scale = longEdge > 0 ? std::min(maxLongEdge / longEdge, 1.0) : 1.0;
  const auto even = [scale](int side) {
    return std::max(2.0, 2 * std::trunc(std::floor(side * scale) * 0.5));
  };
  return {even(width), even(height)};
}

void CaptureEngine::start() {
  // Opening the screen source checks that the target still exists (the content
  // filter), at the size the video will have (the stream configuration).
  const Size size = outputSize(options_.target.width(), options_.target.height(), options_.maxLongEdge);
  {
    std::lock_guard lock(stateLock_);
    outputSize_ = size;
  }
  ScreenCaptureSettings settings{static_cast<int>(size.width), static_cast<int>(size.height), options_.frameRate,
                                 true};
  screen_ = translatingSourceErrors([&] { return sourceFactory_->openScreen(options_.target, settings); });

  auto writer = std::make_unique<MovieWriter>(outputPath_, size.width, size.height, options_.frameRate, hasAudio(),
                                              MovieWriter::fragmentInterval);
  {
    // statistics() and isWriterReady() may be asked from another thread meanwhile.
    std::lock_guard lock(stateLock_);
    writer_ = std::move(writer);
  }

  openMicrophoneAndCamera();
  startMicrophoneAndCamera();
  if (options_.includeSystemAudio) openSystemAudio();
  startScreenAndSystemAudio();

  if (timersEnabled_) {
    audioDrainTimer_ = audioQueue_.scheduleRepeating(seconds(audioDrainInterval), [this] { audioDrainTick(); });
    idleFrameTimer_ = videoQueue_.scheduleRepeating(seconds(idleFrameInterval), [this] { idleFrameTick(); });
  }
  log_.info("recording started: {}x{} @{}", static_cast<long>(size.width), static_cast<long>(size.height),
            options_.frameRate);
}

void CaptureEngine::openMicrophoneAndCamera() {
  // The microphone first, as the device session adds it first.
  if (options_.microphoneID) {
    microphone_ = translatingSourceErrors([&] { return sourceFactory_->openMicrophone(options_.microphoneID); });
  }
  if (options_.cameraID) {
    camera_ = translatingSourceErrors([&] { return sourceFactory_->openCamera(*options_.cameraID); });
  }
}

void CaptureEngine::startMicrophoneAndCamera() {
  if (microphone_) {
    translatingSourceErrors([&] {
      microphone_->start(
          [this, gate = gate_](const CapturedAudio& audio) {
            gate->pass([&] { audioQueue_.async([this, audio] { handleAudio(audio, ClockSource::microphone); }); });
          },
          [this, gate = gate_](const std::string& message) {
            gate->pass([&] {
              audioQueue_.async([this, message] { audioSourceStopped(ClockSource::microphone, message); });
            });
          });
    });
  }
  if (camera_) {
    translatingSourceErrors([&] {
      camera_->start(
          [this, gate = gate_](const VideoFrame& frame) {
            gate->pass([&] { cameraQueue_.async([this, frame] { handleCameraFrame(frame); }); });
          },
          [this, gate = gate_](const std::string& message) {
            gate->pass([&] { log_.error("camera stopped: {}", message); });
          });
    });
  }
}

void CaptureEngine::startScreenAndSystemAudio() {
  translatingSourceErrors([&] {
    screen_->start(
        [this, gate = gate_](const ScreenFrame& frame) {
          gate->pass([&] {
            // The stream keeps a bounded number of frames in flight: a frame that finds
            // the queue full is skipped, never queued without bound.
            if (screenFramesInFlight_.fetch_add(1) >= screenQueueDepth) {
              screenFramesInFlight_.fetch_sub(1);
              framesSkipped_.fetch_add(1);
              return;
            }
            videoQueue_.async([this, frame] {
              screenFramesInFlight_.fetch_sub(1);
              handleScreenFrame(frame);
            });
          });
        },
        [this, gate = gate_](const std::string& message) {
          gate->pass([&] { videoQueue_.async([this, message] { fail(CaptureError::streamStopped(message)); }); });
        });
  });
  if (!systemAudio_) return;
  try {
    systemAudio_->start(
        [this, gate = gate_](const CapturedAudio& audio) {
          gate->pass([&] { audioQueue_.async([this, audio] { handleAudio(audio, ClockSource::systemAudio); }); });
        },
        [this, gate = gate_](const std::string& message) {
          gate->pass([&] {
            audioQueue_.async([this, message] { audioSourceStopped(ClockSource::systemAudio, message); });
          });
        });
  } catch (const CaptureSourceError& error) {
    log_.error("couldn't start the computer's sound: {}", error.what());
    addNotice(std::string(error.what()) + " This recording has no computer sound.");
    systemAudio_.reset();
  }
}

// The computer's sound is a bonus: without it (no sound server, no output device) the
// recording still has the screen and the microphone, and the user is told.
void CaptureEngine::openSystemAudio() {
  try {
    systemAudio_ = sourceFactory_->openSystemAudio();
  } catch (const CaptureSourceError& error) {
    log_.error("couldn't open the computer's sound: {}", error.what());
    addNotice(std::string(error.what()) + " This recording has no computer sound.");
  }
}

void CaptureEngine::addNotice(std::string sentence) {
  std::lock_guard lock(stateLock_);
  notices_.push_back(std::move(sentence));
}

std::vector<std::string> CaptureEngine::notices() const {
  std::lock_guard lock(stateLock_);
  return notices_;
}

// Audio queue. A sound source that stops on its own does not end the recording: the
// rest of it goes on without that sound, and the finished item says so.
void CaptureEngine::audioSourceStopped(ClockSource source, const std::string& message) {
  if (isStopped()) return;
  const bool isMicrophone = source == ClockSource::microphone;
  log_.error("{} stopped: {}", isMicrophone ? "microphone" : "system audio", message);
  addNotice(message + (isMicrophone ? " The rest of this recording has no microphone sound."
                                    : " The rest of this recording has no computer sound."));
}

bool CaptureEngine::isStopped() {
  std::lock_guard lock(stateLock_);
  return stopped_;
}

// Video queue.
void CaptureEngine::handleScreenFrame(const ScreenFrame& frame) {
  if (!writer_ || isStopped()) return;
  if (frame.status == FrameStatus::complete && frame.image) {
    std::optional<double> elapsed;
    {
      std::lock_guard lock(stateLock_);
      lastScreenBuffer_ = frame.image;
      elapsed = clock_.elapsed(frame.hostTime, ClockSource::screen);
    }
    // A captured frame is the engine's alone: the source never touches it again.
    appendFrame(frame.image, elapsed, FrameCompositor::ScreenUse::exclusive);
  }
  // Frames of any other status are not appended: the idle-frame timer covers them.
  if (auto failure = writer_->failure()) fail(*failure);
}

// Video queue.
void CaptureEngine::appendFrame(const VideoFrame& screen, std::optional<double> elapsed,
                                FrameCompositor::ScreenUse use) {
  if (!writer_ || !elapsed) return;
  const double time = quantized(*elapsed);
  double previous = 0;
  CompositeLayers layers;
  std::vector<Rect> blurRects;
  {
    std::lock_guard lock(stateLock_);
    previous = lastAppendedElapsed_;
    if (previous < time) lastAppendedElapsed_ = time;
    layers.camera = latestCameraBuffer_;
    layers.annotation = annotationImage_;
    blurRects = annotationBlurRects_;
  }
  // Frames never go backwards or repeat a time.
  if (!(previous < time)) return;

  const MediaTime presentationTime = MediaTime::fromSeconds(time, videoTimescale);
  writer_->startSession(MediaTime::zero());
  layers.blurRects = blurRects;
  layers.bubble = options_.bubble;
  // Without layers this is the screen frame itself, unless it was drawn over in place
  // before (a still screen repeated after the drawing was cleared).
  std::optional<VideoFrame> composed = compositor_.compose(screen, layers, &writer_->pixelBufferPool(), use);
  if (!composed) {
    compositeDrops_.fetch_add(1);
    return;
  }
  writer_->append(*composed, presentationTime);
  std::lock_guard lock(stateLock_);
  duration_ = time;
}

// Video queue.
void CaptureEngine::idleFrameTick() {
  VideoFrame last;
  std::optional<double> now;
  double lastAppended = 0;
  {
    std::lock_guard lock(stateLock_);
    if (stopped_ || clock_.isPaused() || !lastScreenBuffer_) return;
    last = lastScreenBuffer_;
    now = clock_.elapsedNow();
    lastAppended = lastAppendedElapsed_;
  }
  if (!now || *now - lastAppended <= idleFrameThreshold) return;
  framesRepeated_.fetch_add(1);
  appendFrame(last, now, FrameCompositor::ScreenUse::shared);
}

// Audio queue.
void CaptureEngine::handleAudio(const CapturedAudio& audio, ClockSource source) {
  if (isStopped() || !hasAudio()) return;
  std::optional<double> time;
  double arrival = 0;
  {
    std::lock_guard lock(stateLock_);
    time = clock_.elapsed(audio.presentationTime, source);
    const double hostNow = clock_.hostSeconds();
    const double arrivedAt = audio.arrivalTime > 0 ? audio.arrivalTime : hostNow;
    arrival = clock_.elapsedNowUnpaused() - (hostNow - arrivedAt);
  }
  if (!time) return;
  const AudioBuffer buffer = AudioBuffer::interleavedFloats(audio.samples, audio.channels, CapturedAudio::sampleRate,
                                                            MediaTime::invalid());
  std::optional<std::vector<float>> samples = AudioSampleReader::interleavedFloats(buffer, mixer_.channels());
  if (!samples) {
    ++audioFormatRejections_;
    return;
  }
  const auto frames = static_cast<std::int64_t>(samples->size() / 2);
  audioFramesMixed_[static_cast<int>(source)] += frames;
  (source == ClockSource::microphone ? microphoneFrames_ : systemAudioFrames_).fetch_add(frames);
  // The source's own frame count keeps the sound gap-free; the corrector keeps it on
  // the recording clock when the sound card's clock runs off.
  AudioDriftCorrector& corrector =
      driftCorrectors_.try_emplace(static_cast<int>(source), mixer_.sampleRate()).first->second;
  const std::int64_t frame = corrector.place(*samples, mixer_.channels(), mixer_.frameIndex(*time), arrival);
  mixer_.mix(*samples, frame);
}

// Audio queue.
void CaptureEngine::audioDrainTick() {
  std::optional<double> now;
  {
    std::lock_guard lock(stateLock_);
    if (stopped_ || clock_.isPaused()) return;
    now = clock_.elapsedNow();
  }
  if (now) drainAudio(*now);
}

// Audio queue.
void CaptureEngine::drainAudio(double upTo) {
  if (!writer_) return;
  // Late samples of either source are still mixed in as long as they arrive within
  // the mixer's latency.
  std::optional<AudioMixBuffer::Drained> drained = mixer_.drain(mixer_.frameIndex(upTo - mixer_.latency()));
  if (!drained) return;
  if (audioOutput_) {
    audioOutput_(*drained);
    return;
  }
  auto buffer = AudioSampleBufferFactory::make(drained->samples, mixer_.channels(), mixer_.sampleRate(),
                                               drained->startFrame);
  if (!buffer) return;
  writer_->startSession(MediaTime::zero());
  writer_->append(*buffer);
}

// Audio queue.
void CaptureEngine::flushRemainingAudio() {
  if (!writer_ || !hasAudio()) return;
  std::optional<AudioMixBuffer::Drained> drained = mixer_.drainAll();
  if (!drained) return;
  if (audioOutput_) {
    audioOutput_(*drained);
    return;
  }
  auto buffer = AudioSampleBufferFactory::make(drained->samples, mixer_.channels(), mixer_.sampleRate(),
                                               drained->startFrame);
  if (buffer) writer_->append(*buffer);
}

// Camera queue: only the newest picture is kept; the camera never drives timing.
void CaptureEngine::handleCameraFrame(const VideoFrame& frame) {
  if (cameraPreview_) cameraPreview_->offer(frame, monotonicSeconds());
  std::lock_guard lock(stateLock_);
  latestCameraBuffer_ = frame;
}

void CaptureEngine::fireIdleFrameTimer() {
  videoQueue_.sync([this] { idleFrameTick(); });
}

void CaptureEngine::fireAudioDrainTimer() {
  audioQueue_.sync([this] { audioDrainTick(); });
}

void CaptureEngine::pause() {
  std::lock_guard lock(stateLock_);
  if (stopped_) return;
  clock_.pause();
}

void CaptureEngine::resume() {
  std::lock_guard lock(stateLock_);
  if (stopped_) return;
  clock_.resume();
}

bool CaptureEngine::isPaused() const {
  std::lock_guard lock(stateLock_);
  return clock_.isPaused();
}

void CaptureEngine::updateAnnotations(VideoFrame image, std::vector<Rect> blurRects) {
  std::lock_guard lock(stateLock_);
  annotationImage_ = std::move(image);
  annotationBlurRects_ = std::move(blurRects);
}

Size CaptureEngine::outputSize() const {
  std::lock_guard lock(stateLock_);
  return outputSize_;
}

double CaptureEngine::duration() const {
  std::lock_guard lock(stateLock_);
  return duration_;
}

const MovieWriter* CaptureEngine::currentWriter() const {
  std::lock_guard lock(stateLock_);
  return writer_.get();
}

CaptureEngine::Statistics CaptureEngine::statistics() const {
  Statistics statistics;
  if (const MovieWriter* writer = currentWriter()) {
    statistics.framesWritten = writer->framesWritten();
    statistics.framesDropped = writer->framesDropped();
  }
  statistics.framesDropped += compositeDrops_.load();
  statistics.framesSkipped = framesSkipped_.load();
  statistics.framesRepeated = framesRepeated_.load();
  statistics.microphoneFrames = microphoneFrames_.load();
  statistics.systemAudioFrames = systemAudioFrames_.load();
  statistics.audioFramesLate = mixer_.lateFrames();
  return statistics;
}

bool CaptureEngine::isWriterReady() const {
  const MovieWriter* writer = currentWriter();
  return writer != nullptr && writer->isReadyForMoreVideo();
}

void CaptureEngine::stopSources(std::chrono::steady_clock::time_point deadline) {
  SourceShutdown shutdown;
  shutdown.add(std::move(screen_));
  shutdown.add(std::move(systemAudio_));
  shutdown.add(std::move(microphone_));
  shutdown.add(std::move(camera_));
  const int abandoned = shutdown.run(deadline);
  // What a source abandoned now delivers later goes nowhere.
  gate_->close();
  if (cameraPreview_) cameraPreview_->close();
  if (abandoned > 0) log_.error("{} capture source(s) did not stop in time and were left behind", abandoned);
}

double CaptureEngine::stop() {
  std::lock_guard stopping(stopMutex_);
  {
    std::lock_guard lock(stateLock_);
    if (stopped_) return duration_;
    stopped_ = true;
  }
  audioDrainTimer_.cancel();
  idleFrameTimer_.cancel();
  stopSources(std::chrono::steady_clock::now() + seconds(sourceStopLimit));
  audioQueue_.sync([this] { flushRemainingAudio(); });
  // Whatever the video queue is appending finishes before the file closes.
  videoQueue_.sync([] {});
  if (writer_) writer_->finish();

  std::int64_t microphoneFrames = 0;
  std::int64_t systemFrames = 0;
  int rejections = 0;
  double finalDuration = 0;
  {
    std::lock_guard lock(stateLock_);
    auto counted = [this](ClockSource source) {
      auto found = audioFramesMixed_.find(static_cast<int>(source));
      return found == audioFramesMixed_.end() ? std::int64_t{0} : found->second;
    };
    microphoneFrames = counted(ClockSource::microphone);
    systemFrames = counted(ClockSource::systemAudio);
    rejections = audioFormatRejections_;
    finalDuration = duration_;
  }
  log_.info("recording stopped at {:.2f}s \u2014 mic {} frames, system {} frames, {} unreadable audio buffers, {} late",
            finalDuration, microphoneFrames, systemFrames, rejections, mixer_.lateFrames());
  if (options_.microphoneID && microphoneFrames == 0) log_.error("microphone was enabled but produced no audio");
  return finalDuration;
}

void CaptureEngine::stopImmediately() {
  const auto now = std::chrono::steady_clock::now();
  const auto deadline = now + seconds(immediateStopLimit);
  // A stop() under way closes the file itself; waiting for it past the bound would
  // defeat the purpose. Polled with try_lock rather than a timed mutex: glibc's timed
  // lock goes through a call ThreadSanitizer does not see, and this wait is rare.
  std::unique_lock stopping(stopMutex_, std::try_to_lock);
  while (!stopping.owns_lock() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stopping.try_lock();
  }
  if (!stopping.owns_lock()) {
    log_.error("stop is still finishing the file; not waiting for it");
    return;
  }
  {
    std::lock_guard lock(stateLock_);
    if (stopped_) return;  // the file is closed already
    stopped_ = true;
  }
  audioDrainTimer_.cancel();
  idleFrameTimer_.cancel();
  // The sources get a part of the bound, the file the rest.
  stopSources(std::min(deadline, std::chrono::steady_clock::now() + seconds(sourceStopLimit)));
  if (!writer_) return;
  const std::chrono::duration<double> left = deadline - std::chrono::steady_clock::now();
  writer_->finishSynchronously(std::max(0.0, left.count()));
}

void CaptureEngine::fail(const std::runtime_error& error) {
  std::shared_ptr<CaptureEngineDelegate> delegate;
  {
    std::lock_guard lock(stateLock_);
    if (stopped_) return;
    delegate = delegate_.lock();
  }
  log_.error("capture failed: {}", error.what());
  if (delegate) delegate->captureEngineDidFail(*this, error);
}

}  // namespace tolvane
