#include "app/capture/sources/synthetic_screen_source.h"

#include <libyuv/planar_functions.h>

#include <algorithm>

#include "kit/base/clock.h"

namespace tolvane {

namespace {

constexpr double crossingSeconds = 4.0;

}  // namespace

SyntheticScreenSource::SyntheticScreenSource(ScreenCaptureSettings settings)
    : settings_(settings),
      pool_(std::max(2, settings.width), std::max(2, settings.height), 8),
      background_(VideoFrame::allocate(pool_.width(), pool_.height())) {
  for (int y = 0; y < background_.height(); ++y) {
    for (int x = 0; x < background_.width(); ++x) {
      std::uint8_t* p = background_.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(64 + 128 * y / background_.height());  // blue down
      p[1] = static_cast<std::uint8_t>(32);
      p[2] = static_cast<std::uint8_t>(64 + 128 * x / background_.width());  // red across
      p[3] = 255;
    }
  }
}

SyntheticScreenSource::~SyntheticScreenSource() { stop(); }

int SyntheticScreenSource::squareSize(int width, int height) { return std::max(2, std::min(width, height) / 5); }

int SyntheticScreenSource::squareLeft(long index, int frameRate, int width, int height) {
  long framesPerCrossing = std::max(1L, static_cast<long>(crossingSeconds * frameRate));
  int size = squareSize(width, height);
  long travel = std::max(1, width - size);
  return static_cast<int>((index % framesPerCrossing) * travel / framesPerCrossing);
}

void SyntheticScreenSource::start(FrameHandler onFrame, FailureHandler) {
  onFrame_ = std::move(onFrame);
  loop_.start(settings_.frameRate, [this] { return tick(); });
}

void SyntheticScreenSource::stop() { loop_.stop(); }

bool SyntheticScreenSource::tick() {
  double hostTime = monotonicSeconds();
  VideoFrame frame = pool_.acquire();
  libyuv::ARGBCopy(background_.data(), background_.stride(), frame.data(), frame.stride(), frame.width(),
                   frame.height());
  int size = squareSize(frame.width(), frame.height());
  int left = std::min(squareLeft(index_, settings_.frameRate, frame.width(), frame.height()), frame.width() - size);
  int top = (frame.height() - size) / 2;
  for (int y = top; y < top + size; ++y) {
    std::fill_n(reinterpret_cast<std::uint32_t*>(frame.pixel(left, y)), size, 0xFFFFFFFFu);
  }
  ++index_;
  onFrame_(ScreenFrame{std::move(frame), hostTime, FrameStatus::complete});
  return true;
}

}  // namespace tolvane
