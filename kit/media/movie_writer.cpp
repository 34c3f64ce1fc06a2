#include "kit/media/movie_writer.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <mutex>
#include <utility>

#include "kit/base/log.h"
#include "kit/base/serial_queue.h"
#include "kit/media/mp4_asset_writer.h"

namespace tolvane {
namespace {

constexpr std::int64_t kMinimumBitRate = 3'000'000;
constexpr std::int64_t kMaximumBitRate = 24'000'000;
constexpr double kBitsPerPixel = 0.11;

int evenFloor(double pixels) {
  if (!std::isfinite(pixels) || pixels < 0) return 0;
  return 2 * static_cast<int>(std::trunc(std::floor(pixels) * 0.5));
}

}  // namespace

struct MovieWriter::State {
  std::filesystem::path outputPath;
  int width = 0;
  int height = 0;
  bool hasAudioInput = false;
  Logger log{"writer"};
  std::unique_ptr<Mp4AssetWriter> writer;
  std::unique_ptr<FramePool> pool;

  // Touched only on `queue`.
  bool sessionStarted = false;
  bool finished = false;

  // Written on `queue`, read from any thread without waiting for the queue (which may
  // be busy finishing the file).
  mutable std::mutex progressMutex;
  MediaTime lastVideoTime = MediaTime::zero();
  std::int64_t framesWritten = 0;
  std::int64_t framesDropped = 0;
  std::optional<WriterError> failure;

  std::mutex finishMutex;
  std::shared_future<void> finishing;  // guarded by finishMutex; valid once finishing was asked for

  // Last, so that it is destroyed first: its thread, and a finish still running on it,
  // stop before anything they touch goes away.
  SerialQueue queue{"com.tolvanelabs.Tolvane.writer"};

  Status status() const { return static_cast<Status>(writer->status()); }

  // Only the first failure counts. The file underneath does not stop by itself on
  // later appends; the capture engine notices `failure` and reports it.
  void recordFailure() {
    std::lock_guard lock(progressMutex);
    if (failure) return;
    const std::string detail = writer->error().value_or("the writer stopped accepting data");
    failure = WriterError::failed(detail);
    log.error("writer failed: {}", detail);
  }

  // Appends are ignored once the file is no longer being written. A failure the encoder
  // thread met between two appends is recorded here, so it reaches the engine at once.
  bool acceptsMedia() {
    if (!sessionStarted || finished) return false;
    const Status current = status();
    if (current == Status::failed) recordFailure();
    return current == Status::writing;
  }

  // The first call posts the finish to the queue, behind every append already made;
  // later calls wait for that same finish.
  std::shared_future<void> requestFinish() {
    std::lock_guard lock(finishMutex);
    if (!finishing.valid()) {
      auto task = std::make_shared<std::packaged_task<void()>>([this] { finishOnQueue(); });
      finishing = task->get_future().share();
      queue.async([task] { (*task)(); });
    }
    return finishing;
  }

  void finishOnQueue() {
    finished = true;
    const Status current = status();
    {
      std::lock_guard lock(progressMutex);
      log.info("finishing: {} frames written, {} dropped, status {}", framesWritten, framesDropped,
               static_cast<long>(current));
    }
    if (current == Status::writing && sessionStarted) {
      writer->finishWriting();
      if (status() == Status::failed) log.error("finishWriting failed: {}", writer->error().value_or("unknown"));
      return;
    }
    if (current == Status::writing) {
      log.error("no session was ever started — cancelling instead of finishing");
      writer->cancelWriting();
      return;
    }
    // A fragmented file from a writer that failed mid-way still holds every fragment
    // completed before the failure; recovery can use it as it is.
    log.error("writer was {} at finish; leaving the file as-is", static_cast<long>(current));
  }
};

std::int64_t MovieWriter::bitRateFor(int width, int height, int frameRate) {
  const double bits = static_cast<double>(width) * height * frameRate * kBitsPerPixel;
  const auto truncated = static_cast<std::int64_t>(std::trunc(std::min(bits, 1e15)));
  return std::clamp(truncated, kMinimumBitRate, kMaximumBitRate);
}

MovieWriter::MovieWriter(std::filesystem::path outputPath, double videoWidth, double videoHeight, int frameRate,
                         bool includeAudio, std::optional<MediaTime> fragmentEvery)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.outputPath = std::move(outputPath);
  try {
    s.writer = std::make_unique<Mp4AssetWriter>(s.outputPath);
  } catch (const std::exception& e) {
    throw WriterError::cannotCreate(e.what());
  }
  // Network optimisation stays off: the index is not moved to the front of the file.
  if (fragmentEvery) s.writer->setFragmentInterval(*fragmentEvery);

  s.width = evenFloor(videoWidth);
  s.height = evenFloor(videoHeight);
  VideoSettings video;
  video.width = s.width;
  video.height = s.height;
  video.frameRate = frameRate;
  video.bitRate = bitRateFor(s.width, s.height, frameRate);
  video.maxKeyFrameInterval = frameRate * 2;
  if (s.width < 2 || s.height < 2 || frameRate < 1 || !s.writer->addVideoInput(video)) {
    throw WriterError::cannotCreate("the video encoder refused these settings");
  }
  if (includeAudio) {
    if (s.writer->addAudioInput(AudioSettings{48000, 2, 128000})) {
      s.hasAudioInput = true;
    } else {
      s.log.error("audio input rejected; recording video only");
    }
  }
  s.pool = std::make_unique<FramePool>(s.width, s.height, Mp4AssetWriter::videoQueueCapacity + 4);
  if (!s.writer->startWriting()) {
    throw WriterError::cannotCreate(s.writer->error().value_or("unknown reason"));
  }
}

MovieWriter::~MovieWriter() = default;

const std::filesystem::path& MovieWriter::outputPath() const { return state_->outputPath; }
int MovieWriter::width() const { return state_->width; }
int MovieWriter::height() const { return state_->height; }
bool MovieWriter::hasAudioInput() const { return state_->hasAudioInput; }

void MovieWriter::startSession(MediaTime time) {
  State& s = *state_;
  s.queue.sync([&s, time] {
    if (s.sessionStarted || s.finished) return;
    s.writer->startSession(time);
    s.sessionStarted = true;
  });
}

void MovieWriter::append(const VideoFrame& pixelBuffer, MediaTime time) {
  State& s = *state_;
  s.queue.sync([&s, &pixelBuffer, time] {
    if (!s.acceptsMedia()) return;
    if (!s.writer->isReadyForMoreVideo()) {
      std::lock_guard lock(s.progressMutex);
      ++s.framesDropped;
      return;
    }
    {
      // Presentation times are strictly increasing in the file.
      std::lock_guard lock(s.progressMutex);
      if (s.framesWritten > 0 && time <= s.lastVideoTime) return;
    }
    if (!s.writer->appendVideo(pixelBuffer, time)) {
      s.recordFailure();
      return;
    }
    std::lock_guard lock(s.progressMutex);
    s.lastVideoTime = time;
    ++s.framesWritten;
  });
}

void MovieWriter::append(const AudioBuffer& audioSampleBuffer) {
  State& s = *state_;
  s.queue.sync([&s, &audioSampleBuffer] {
    if (!s.acceptsMedia() || !s.hasAudioInput) return;
    // Audio that finds the queue full is dropped silently, as a busy input would.
    if (!s.writer->isReadyForMoreAudio()) return;
    if (!s.writer->appendAudio(audioSampleBuffer)) s.recordFailure();
  });
}

void MovieWriter::finish() { state_->requestFinish().wait(); }

bool MovieWriter::finishSynchronously(double timeoutSeconds) {
  const auto timeout = std::chrono::duration<double>(std::max(0.0, timeoutSeconds));
  return state_->requestFinish().wait_for(timeout) == std::future_status::ready;
}

MediaTime MovieWriter::lastVideoTime() const {
  std::lock_guard lock(state_->progressMutex);
  return state_->lastVideoTime;
}
std::int64_t MovieWriter::framesWritten() const {
  std::lock_guard lock(state_->progressMutex);
  return state_->framesWritten;
}
std::int64_t MovieWriter::framesDropped() const {
  std::lock_guard lock(state_->progressMutex);
  return state_->framesDropped;
}
std::optional<MovieWriter::WriterError> MovieWriter::failure() const {
  std::lock_guard lock(state_->progressMutex);
  return state_->failure;
}
bool MovieWriter::isHealthy() const { return !failure() && status() != Status::failed; }
MovieWriter::Status MovieWriter::status() const { return state_->status(); }
bool MovieWriter::isReadyForMoreVideo() const { return state_->writer->isReadyForMoreVideo(); }
FramePool& MovieWriter::pixelBufferPool() const { return *state_->pool; }

}  // namespace tolvane
