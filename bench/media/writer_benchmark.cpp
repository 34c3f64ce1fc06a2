// CPU cost of writing screen recordings: CPU-seconds (all threads of the process) spent
// per second of 30 fps video, on screen-like content: a static desktop with windows of
// text-like detail and one moving, changing region. Frames are fed as fast as the
// writer takes them (never dropped), so wall time per video second also shows how much
// faster than real time it runs. Run the release build:
//   build/release/bench/media/writer_benchmark
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "kit/base/log.h"
#include "kit/media/h264_encoder.h"
#include "kit/media/movie_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tolvane {
namespace {

constexpr int kFrameRate = 30;
constexpr int kSeconds = 6;
constexpr int kDistinctFrames = 30;

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One second of a desktop: the same background and windows in every frame, and a
// 480×320 "video" window that moves 6 px per frame and changes its content.
std::vector<VideoFrame> screenLikeFrames(int width, int height) {
  VideoFrame desktop = VideoFrame::allocate(width, height);
  std::mt19937 random(7);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      auto* p = desktop.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(90 + y * 60 / height), p[1] = 60, p[2] = 40, p[3] = 255;
    }
  }
  // Windows with lines of "text": dark glyph-sized blocks on white.
  for (int w = 0; w < 4; ++w) {
    const int wx = 40 + w * width / 5, wy = 60 + w * 40, ww = width / 3, wh = height / 2;
    for (int y = wy; y < std::min(height, wy + wh); ++y) {
      for (int x = wx; x < std::min(width, wx + ww); ++x) {
        const bool glyph = (y - wy) % 18 < 11 && (x - wx) % 9 < 6 && ((x - wx) / 9 + (y - wy) / 18) % 7 != 0 &&
                           random() % 3 != 0;
        auto* p = desktop.pixel(x, y);
        const std::uint8_t v = glyph ? 30 : 245;
        p[0] = p[1] = p[2] = v;
      }
    }
  }
  std::vector<VideoFrame> frames;
  for (int i = 0; i < kDistinctFrames; ++i) {
    VideoFrame frame = VideoFrame::allocate(width, height);
    std::memcpy(frame.data(), desktop.data(), desktop.byteSize());
    const int bx = (i * 6) % std::max(1, width - 480), by = height / 3;
    for (int y = by; y < by + 320 && y < height; ++y) {
      for (int x = bx; x < bx + 480 && x < width; ++x) {
        auto* p = frame.pixel(x, y);
        p[0] = static_cast<std::uint8_t>((x * 3 + i * 8) & 255);
        p[1] = static_cast<std::uint8_t>((y * 2 - i * 5) & 255);
        p[2] = static_cast<std::uint8_t>(((x ^ y) + i * 11) & 255);
      }
    }
    frames.push_back(frame);
  }
  return frames;
}

// profile_idc of the SPS in the encoder's global header (100 is High).
int spsProfile(const AVCodecContext* context) {
  const std::uint8_t* data = context->extradata;
  for (int i = 0; i + 4 < context->extradata_size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1f) == 7) return data[i + 4];
  }
  return -1;
}

void reportPerVideoSecond(benchmark::State& state, double cpu, double wall, double videoSeconds) {
  state.counters["cpu_s_per_video_s"] = cpu / videoSeconds;
  state.counters["wall_s_per_video_s"] = wall / videoSeconds;
}

// The whole writer as the capture engine uses it (default preset and tune).
void BM_MovieWriter(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const auto frames = screenLikeFrames(width, height);
  const auto path = std::filesystem::temp_directory_path() / "tolvane-writer-benchmark.mp4";
  double cpu = 0, wall = 0, video = 0;
  for (auto _ : state) {
    const double cpuStart = processCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    MovieWriter writer(path, width, height, kFrameRate, false, MovieWriter::fragmentInterval);
    writer.startSession(MediaTime::zero());
    for (int i = 0; i < kSeconds * kFrameRate; ++i) {
      while (!writer.isReadyForMoreVideo()) std::this_thread::sleep_for(std::chrono::microseconds(200));
      writer.append(frames[static_cast<std::size_t>(i % kDistinctFrames)], MediaTime{i * 600 / kFrameRate, 600});
    }
    writer.finish();
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    cpu += processCpuSeconds() - cpuStart;
    video += kSeconds;
    state.counters["dropped"] = static_cast<double>(writer.framesDropped());
  }
  reportPerVideoSecond(state, cpu, wall, video);
  std::filesystem::remove(path);
}
BENCHMARK(BM_MovieWriter)->Args({1920, 1080})->Args({2560, 1440})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The encoder alone with the candidate x264 presets and tunes (BGRA→I420 included).
void BM_EncoderPreset(benchmark::State& state, const char* preset, const char* tune) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const auto frames = screenLikeFrames(width, height);
  VideoSettings settings;
  settings.width = width;
  settings.height = height;
  settings.frameRate = kFrameRate;
  settings.bitRate = MovieWriter::bitRateFor(width, height, kFrameRate);
  settings.maxKeyFrameInterval = kFrameRate * 2;
  settings.preset = preset;
  settings.tune = tune;
  double cpu = 0, wall = 0, video = 0;
  std::int64_t bytes = 0;
  std::string profile;
  for (auto _ : state) {
    const double cpuStart = processCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    H264Encoder encoder(settings);
    auto sink = [&bytes](AVPacket& packet) { bytes += packet.size; };
    for (int i = 0; i < kSeconds * kFrameRate; ++i) {
      encoder.encode(frames[static_cast<std::size_t>(i % kDistinctFrames)],
                     static_cast<std::int64_t>(i) * H264Encoder::timeBase / kFrameRate, sink);
    }
    encoder.flush(sink);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    cpu += processCpuSeconds() - cpuStart;
    video += kSeconds;
    state.counters["high_profile"] = spsProfile(encoder.context()) == 100 ? 1 : 0;
  }
  reportPerVideoSecond(state, cpu, wall, video);
  state.counters["kbit_per_s"] = static_cast<double>(bytes) * 8 / 1000 / video;
}
BENCHMARK_CAPTURE(BM_EncoderPreset, ultrafast_zerolatency, "ultrafast", "zerolatency")
    ->Args({1920, 1080})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderPreset, superfast_zerolatency, "superfast", "zerolatency")
    ->Args({1920, 1080})->Args({2560, 1440})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderPreset, superfast, "superfast", "none")
    ->Args({1920, 1080})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderPreset, veryfast_zerolatency, "veryfast", "zerolatency")
    ->Args({1920, 1080})->Args({2560, 1440})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderPreset, veryfast, "veryfast", "none")
    ->Args({1920, 1080})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderPreset, faster_zerolatency, "faster", "zerolatency")
    ->Args({1920, 1080})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace tolvane

int main(int argc, char** argv) {
  tolvane::Log::setStderrLevel(tolvane::LogLevel::off);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
