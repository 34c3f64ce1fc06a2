// Cost of composing one recorded frame, at 1920x1080 and 2560x1440: the camera bubble, a
// full-frame annotation overlay and four 400x300 blur rectangles, together and each alone.
// The "allocs" counter is heap allocations per composed frame (operator new), which must
// be 0 once warmed up. Run the release build, pinned to one core:
//   taskset -c 1 build/release/bench/capture/frame_compositor_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include "app/capture/frame_compositor.h"
#include "kit/annotations/annotation_renderer.h"

namespace {

std::atomic<long> allocationCount{0};

}  // namespace

void* operator new(std::size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace tolvane {
namespace {

enum Layers { kBubble = 1, kAnnotation = 2, kBlur = 4, kAll = 7 };

VideoFrame screenFrame(int width, int height) {
  auto frame = VideoFrame::allocate(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = frame.row(y);
    for (int x = 0; x < width; ++x) {
      row[x * 4 + 0] = static_cast<std::uint8_t>(x * 7 + y);
      row[x * 4 + 1] = static_cast<std::uint8_t>(x ^ y);
      row[x * 4 + 2] = static_cast<std::uint8_t>(y * 3);
      row[x * 4 + 3] = 255;
    }
  }
  return frame;
}

VideoFrame annotationFrame(int width, int height) {
  std::vector<AnnotationStroke> strokes;
  strokes.emplace_back(AnnotationTool::pen, annotation_colors::tomato, 0.004,
                       std::vector<Point>{{0.1, 0.1}, {0.3, 0.2}, {0.5, 0.15}, {0.7, 0.4}});
  strokes.emplace_back(AnnotationTool::highlighter, annotation_colors::yellow, 0.02,
                       std::vector<Point>{{0.2, 0.6}, {0.8, 0.6}});
  strokes.emplace_back(AnnotationTool::arrow, annotation_colors::green, 0.004, std::vector<Point>{{0.6, 0.8}, {0.9, 0.5}});
  return *AnnotationRenderer::render(strokes, {static_cast<double>(width), static_cast<double>(height)});
}

void composeFrame(benchmark::State& state, int width, int height, int layerMask) {
  const auto screen = screenFrame(width, height);
  const auto camera = screenFrame(1280, 720);
  const auto annotation = annotationFrame(width, height);
  const double w = 400.0 / width;
  const double h = 300.0 / height;
  const std::vector<Rect> rects = {{0.05, 0.05, w, h}, {0.55, 0.1, w, h}, {0.1, 0.6, w, h}, {0.6, 0.65, w, h}};

  CompositeLayers layers;
  if (layerMask & kBubble) layers.camera = camera;
  if (layerMask & kAnnotation) layers.annotation = annotation;
  if (layerMask & kBlur) layers.blurRects = rects;

  FrameCompositor compositor;
  FramePool pool(width, height, 4);
  for (int i = 0; i < 3; ++i) benchmark::DoNotOptimize(compositor.compose(screen, layers, &pool));  // warm up

  const long allocationsBefore = allocationCount.load();
  for (auto _ : state) {
    auto out = compositor.compose(screen, layers, &pool);
    benchmark::DoNotOptimize(out->data());
    benchmark::ClobberMemory();
  }
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocationCount.load() - allocationsBefore),
                                                benchmark::Counter::kAvgIterations);
  state.counters["pool_buffers"] = static_cast<double>(pool.allocationCount());
}

void BM_ComposeAll_1080p(benchmark::State& state) { composeFrame(state, 1920, 1080, kAll); }
void BM_ComposeAll_1440p(benchmark::State& state) { composeFrame(state, 2560, 1440, kAll); }
void BM_Bubble_1440p(benchmark::State& state) { composeFrame(state, 2560, 1440, kBubble); }
void BM_Annotation_1440p(benchmark::State& state) { composeFrame(state, 2560, 1440, kAnnotation); }
void BM_Blur_1440p(benchmark::State& state) { composeFrame(state, 2560, 1440, kBlur); }
void BM_PassThrough_1440p(benchmark::State& state) { composeFrame(state, 2560, 1440, 0); }

// Yardsticks measured in the same run: the plain frame copy and full-frame blend that any
// composed frame needs at least one of. On a loaded machine everything slows together;
// compare against these.
void BM_FrameCopy_1440p(benchmark::State& state) {
  const auto screen = screenFrame(2560, 1440);
  const auto target = VideoFrame::allocate(2560, 1440);
  for (auto _ : state) {
    libyuv::ARGBCopy(screen.data(), screen.stride(), target.data(), target.stride(), 2560, 1440);
    benchmark::ClobberMemory();
  }
}
void BM_FrameBlend_1440p(benchmark::State& state) {
  const auto screen = screenFrame(2560, 1440);
  const auto overlay = annotationFrame(2560, 1440);
  const auto target = VideoFrame::allocate(2560, 1440);
  for (auto _ : state) {
    libyuv::ARGBBlend(overlay.data(), overlay.stride(), screen.data(), screen.stride(), target.data(), target.stride(),
                      2560, 1440);
    benchmark::ClobberMemory();
  }
}
// The pool's own cost per frame, allocations included.
void BM_PoolAcquire_1440p(benchmark::State& state) {
  FramePool pool(2560, 1440, 4);
  benchmark::DoNotOptimize(pool.acquire());
  const long allocationsBefore = allocationCount.load();
  for (auto _ : state) benchmark::DoNotOptimize(pool.acquire().data());
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocationCount.load() - allocationsBefore),
                                                benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_FrameCopy_1440p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameBlend_1440p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoolAcquire_1440p)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeAll_1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeAll_1440p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bubble_1440p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Annotation_1440p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur_1440p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassThrough_1440p)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvane

BENCHMARK_MAIN();
