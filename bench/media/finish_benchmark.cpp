// What stopping a long recording and measuring a recorded movie cost, against the size of
// the movie. Frames are small and noisy so that the encoder runs well ahead of real time
// while the file still grows at the writer's lowest bit rate (3 Mbit/s): the figures that
// matter are the seconds finish() takes and the bytes a duration probe reads, not the
// encoding. Run the release build:
//   build/release/bench/media/finish_benchmark
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "kit/base/log.h"
#include "kit/base/process_io.h"
#include "kit/media/media_probe.h"
#include "kit/media/movie_writer.h"

namespace tolvane {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrameRate = 15;
constexpr int kDistinctFrames = 16;

// Bytes this process has read so far; the benchmark runs only where the kernel counts.
double readBytes() { return static_cast<double>(processReadBytes().value_or(0)); }

// Writes `seconds` of video and sound; returns the seconds finish() took.
double recordMovie(const std::filesystem::path& path, int seconds) {
  std::mt19937 random(11);
  std::vector<VideoFrame> frames;
  for (int i = 0; i < kDistinctFrames; ++i) {
    VideoFrame frame = VideoFrame::allocate(kWidth, kHeight);
    for (std::size_t b = 0; b < frame.byteSize(); ++b) frame.data()[b] = static_cast<std::uint8_t>(random());
    frames.push_back(frame);
  }
  const std::vector<float> sound(48000 / kFrameRate * 2, 0.1f);
  MovieWriter writer(path, kWidth, kHeight, kFrameRate, true, MovieWriter::fragmentInterval);
  writer.startSession(MediaTime::zero());
  for (int i = 0; i < seconds * kFrameRate; ++i) {
    while (!writer.isReadyForMoreVideo()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    writer.append(frames[static_cast<std::size_t>(i % kDistinctFrames)], MediaTime{i * 600 / kFrameRate, 600});
    writer.append(AudioBuffer::interleavedFloats(sound, 2, 48000, MediaTime{i * 48000 / kFrameRate, 48000}));
  }
  const auto start = std::chrono::steady_clock::now();
  writer.finish();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_FinishRecording(benchmark::State& state) {
  const int seconds = static_cast<int>(state.range(0));
  const auto path = std::filesystem::temp_directory_path() / "tolvane-finish-benchmark.mp4";
  double finish = 0;
  for (auto _ : state) finish = recordMovie(path, seconds);
  state.counters["finish_s"] = finish;
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  std::filesystem::remove(path);
}
BENCHMARK(BM_FinishRecording)->Arg(60)->Arg(600)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A finished movie, and the same movie cut off in the middle of a fragment as a crash
// leaves it: the share of the file's bytes that measuring its duration reads.
void BM_ProbeDuration(benchmark::State& state) {
  const int seconds = static_cast<int>(state.range(0));
  const auto path = std::filesystem::temp_directory_path() / "tolvane-probe-benchmark.mp4";
  recordMovie(path, seconds);
  const auto size = static_cast<double>(std::filesystem::file_size(path));
  double finishedRead = 0, finishedSeconds = 0;
  for (auto _ : state) {
    const double before = readBytes();
    finishedSeconds = probeDuration(path);
    finishedRead = readBytes() - before;
  }
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size * 0.61));
  const double before = readBytes();
  const double cutSeconds = probeDuration(path);
  const double cutRead = readBytes() - before;
  state.counters["file_MB"] = size / 1e6;
  state.counters["finished_s"] = finishedSeconds;
  state.counters["finished_read_pct"] = 100 * finishedRead / size;
  state.counters["cut_s"] = cutSeconds;
  state.counters["cut_read_pct"] = 100 * cutRead / (size * 0.61);
  std::filesystem::remove(path);
}
BENCHMARK(BM_ProbeDuration)->Arg(1200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace tolvane

int main(int argc, char** argv) {
  tolvane::Log::setStderrLevel(tolvane::LogLevel::off);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
