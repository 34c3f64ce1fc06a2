// Per-frame costs of the capture sources: scaling a screen picture into the output
// frame, decoding a camera picture, and reading a whole X display through MIT-SHM (the
// last needs $DISPLAY, e.g. an Xvfb server started for the run).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "app/capture/sources/bgra_fit.h"
#include "app/capture/sources/camera_frame_decoder.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"
#include "app/capture/sources/x11_screen_source.h"

namespace tolvane {
namespace {

void fit(benchmark::State& state, int sourceWidth, int sourceHeight, int outWidth, int outHeight) {
  std::vector<std::uint32_t> source(static_cast<std::size_t>(sourceWidth) * static_cast<std::size_t>(sourceHeight), 0x00336699u);
  VideoFrame out = VideoFrame::allocate(outWidth, outHeight);
  for (auto _ : state) {
    fitBGRA(reinterpret_cast<const std::uint8_t*>(source.data()), sourceWidth * 4, sourceWidth, sourceHeight, out);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_FitCopy1080p(benchmark::State& state) { fit(state, 1920, 1080, 1920, 1080); }
void BM_FitScale2880pTo1440p(benchmark::State& state) { fit(state, 5120, 2880, 2560, 1440); }
BENCHMARK(BM_FitCopy1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitScale2880pTo1440p)->Unit(benchmark::kMillisecond);

void BM_DecodeYuyv720p(benchmark::State& state) {
  std::vector<std::uint8_t> yuyv(1280 * 720 * 2, 128);
  VideoFrame out = VideoFrame::allocate(1280, 720);
  CameraFrameDecoder decoder(CameraPixelFormat::yuyv, 1280, 720, 2560);
  for (auto _ : state) {
    decoder.decode(yuyv.data(), yuyv.size(), out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_DecodeYuyv720p)->Unit(benchmark::kMillisecond);

// One complete 1920×1080 frame read from the X server: the benchmark paints a corner of
// the root window (so XDamage reports a change), then waits for the next complete frame.
// Process CPU time covers the source's own thread and the drawing.
void BM_X11ScreenFrame(benchmark::State& state) {
  if (std::getenv("DISPLAY") == nullptr) {
    state.SkipWithError("set DISPLAY (for example to an Xvfb server) to measure X11 capture");
    return;
  }
  X11Connection painter;
  DisplayInfo monitor = X11ContentReader(painter).displays().at(0);
  GC gc = XCreateGC(painter.display(), painter.root(), 0, nullptr);
  X11ScreenSource source({}, monitor.displayID, ScreenCaptureSettings{monitor.width, monitor.height, 1000, true});
  std::mutex mutex;
  std::condition_variable delivered;
  long completeFrames = 0;
  source.start(
      [&](const ScreenFrame& frame) {
        std::lock_guard lock(mutex);
        if (frame.status == FrameStatus::complete) ++completeFrames;
        delivered.notify_all();
      },
      [](const std::string&) {});
  unsigned long color = 0;
  for (auto _ : state) {
    long before = 0;
    {
      std::lock_guard lock(mutex);
      before = completeFrames;
    }
    XSetForeground(painter.display(), gc, color += 0x010203);
    XFillRectangle(painter.display(), painter.root(), gc, monitor.x, monitor.y, 64, 64);
    XSync(painter.display(), False);
    std::unique_lock lock(mutex);
    delivered.wait(lock, [&] { return completeFrames > before; });
  }
  source.stop();
  XFreeGC(painter.display(), gc);
}
BENCHMARK(BM_X11ScreenFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace tolvane

BENCHMARK_MAIN();
