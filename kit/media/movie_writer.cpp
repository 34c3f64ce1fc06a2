#include "kit/media/movie_writer.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <thread>
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
  std::unique_ptr<Mp4AssetWriter> writer;
  bool hasAudioInput = false;
  std::unique_ptr<FramePool> pool;
  Logger log{"writer"};
  // Declared after everything its tasks touch, so it stops first on destruction.
  SerialQueue queue{"com.tolvanelabs.Tolvane.writer"};

  // Touched only on `queue`.
  bool sessionStarted = false;
  bool finished = false;
  MediaTime lastVideoTime = MediaTime::zero();
  std::int64_t framesWritten = 0;
  std::int64_t framesDropped = 0;
  std::optional<WriterError> failure;

  Status status() const { return static_cast<Status>(writer->status()); }

  // Only the first failure counts. The file underneath does not stop by itself on
  // later appends; the capture engine notices `failure` and reports it.
  void recordFailure() {
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

  void finish() {
    struct Plan {
      bool proceed = false;
      bool sessionStarted = false;
    };
    const Plan plan = queue.sync([this] {
      if (finished) return Plan{};
      finished = true;
      return Plan{true, sessionStarted};
    });
    if (!plan.proceed) return;
    const Status current = status();
    log.info("finishing: {} frames written, {} dropped, status {}", queue.sync([this] { return framesWritten; }),
             queue.sync([this] { return framesDropped; }), static_cast<long>(current));
    if (current == Status::writing && plan.sessionStarted) {
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
    : state_(std::make_shared<State>()) {
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
    if (s.sessionStarted) return;
    s.writer->startSession(time);
    s.sessionStarted = true;
  });
}

void MovieWriter::append(const VideoFrame& pixelBuffer, MediaTime time) {
  State& s = *state_;
  s.queue.sync([&s, &pixelBuffer, time] {
    if (!s.acceptsMedia()) return;
    if (!s.writer->isReadyForMoreVideo()) {
      ++s.framesDropped;
      return;
    }
    // Presentation times are strictly increasing in the file.
    if (s.framesWritten > 0 && time <= s.lastVideoTime) return;
    if (!s.writer->appendVideo(pixelBuffer, time)) {
      s.recordFailure();
      return;
    }
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

void MovieWriter::finish() { state_->finish(); }

bool MovieWriter::finishSynchronously(double timeoutSeconds) {
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  // The thread keeps the state alive, so finishing goes on safely after a time-out even
  // if this writer is released in the meantime.
  std::thread([state = state_, done] {
    state->finish();
    done->set_value();
  }).detach();
  const auto timeout = std::chrono::duration<double>(std::max(0.0, timeoutSeconds));
  return future.wait_for(timeout) == std::future_status::ready;
}

MediaTime MovieWriter::lastVideoTime() const {
  return state_->queue.sync([this] { return state_->lastVideoTime; });
}
std::int64_t MovieWriter::framesWritten() const {
  return state_->queue.sync([this] { return state_->framesWritten; });
}
std::int64_t MovieWriter::framesDropped() const {
  return state_->queue.sync([this] { return state_->framesDropped; });
}
std::optional<MovieWriter::WriterError> MovieWriter::failure() const {
  return state_->queue.sync([this] { return state_->failure; });
}
bool MovieWriter::isHealthy() const { return !failure() && status() != Status::failed; }
MovieWriter::Status MovieWriter::status() const { return state_->status(); }
bool MovieWriter::isReadyForMoreVideo() const { return state_->writer->isReadyForMoreVideo(); }
FramePool& MovieWriter::pixelBufferPool() const { return *state_->pool; }

}  // namespace tolvane
