#pragma once

#include "app/capture/sources/camera_source.h"
#include "app/capture/sources/paced_loop.h"

namespace tolvane {

// A camera showing the eight classic colour bars (white, yellow, cyan, green, magenta,
// red, blue, black from left to right) at 640 × 480, 30 frames a second.
class SyntheticBarsCamera : public CameraSource {
 public:
  static constexpr int width = 640;
  static constexpr int height = 480;

  SyntheticBarsCamera();
  ~SyntheticBarsCamera() override;

  void start(FrameHandler onFrame, FailureHandler onFailure) override;
  void stop() override;

  // The bar colour at column x as B, G, R.
  static std::uint32_t barColor(int x);

 private:
  VideoFrame picture_;
  FrameHandler onFrame_;
  PacedLoop loop_;  // last: stops before the state it uses goes away
};

}  // namespace tolvane
