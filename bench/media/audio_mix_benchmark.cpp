// Throughput of the audio mixer as the capture engine drives it: two stereo sources at
// 48 kHz mixed in 10 ms chunks, drained in 0.25 s stretches, then wrapped for the writer.
// Reports how many seconds of recording are handled per second of CPU (x real time).
#include <benchmark/benchmark.h>

#include <vector>

#include "kit/media/audio_mix_buffer.h"
#include "kit/media/audio_sample_buffer_factory.h"
#include "kit/media/audio_sample_reader.h"

namespace tolvane {
namespace {

void BM_MixAndDrain(benchmark::State& state) {
  AudioMixBuffer mixer(48000, 2, 0.3, 5.0);
  const std::vector<float> microphone(480 * 2, 0.25f);
  const std::vector<float> system(480 * 2, -0.5f);
  std::int64_t frame = 0;
  for (auto _ : state) {
    // One 0.25 s drain period: 25 chunks from each source, then one drain.
    for (int chunk = 0; chunk < 25; ++chunk) {
      mixer.mix(microphone, frame);
      mixer.mix(system, frame + 7);
      frame += 480;
    }
    auto drained = mixer.drain(frame - 14400);
    benchmark::DoNotOptimize(drained);
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 0.25, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(state.iterations() * 25 * 2 * 480);
}
BENCHMARK(BM_MixAndDrain);

void BM_ReadMixDrainWrap(benchmark::State& state) {
  AudioMixBuffer mixer(48000, 2, 0.3, 5.0);
  const auto chunk = AudioBuffer::interleavedFloats(std::vector<float>(480 * 2, 0.25f), 2, 48000, MediaTime::zero());
  std::int64_t frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < 25; ++i) {
      auto samples = AudioSampleReader::interleavedFloats(chunk, 2);
      mixer.mix(*samples, frame);
      mixer.mix(*samples, frame);
      frame += 480;
    }
    if (auto drained = mixer.drain(frame - 14400)) {
      auto buffer = AudioSampleBufferFactory::make(drained->samples, 2, 48000, drained->startFrame);
      benchmark::DoNotOptimize(buffer);
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 0.25, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadMixDrainWrap);

}  // namespace
}  // namespace tolvane

BENCHMARK_MAIN();
