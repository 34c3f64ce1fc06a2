#pragma once

#include "app/capture/sources/paced_loop.h"
#include "app/capture/sources/screen_source.h"
#include "kit/media/frame_pool.h"

namespace tolvane {

// A moving test scene: a fixed colour gradient with a white square that crosses the
// picture once every four seconds. Every frame is complete (the scene always moves).
class SyntheticScreenSource : public ScreenSource {
 public:
  explicit SyntheticScreenSource(ScreenCaptureSettings settings);
  ~SyntheticScreenSource() override;

  void start(FrameHandler onFrame, FailureHandler onFailure) override;
  void stop() override;
  const ScreenCaptureSettings& settings() const override { return settings_; }

  // The square's left edge for frame `index`, for tests that check the motion.
  static int squareLeft(long index, int frameRate, int width, int height);
  static int squareSize(int width, int height);

 private:
  bool tick();

  ScreenCaptureSettings settings_;
  FramePool pool_;
  VideoFrame background_;
  long index_ = 0;
  FrameHandler onFrame_;
  PacedLoop loop_;  // last: stops before the state it uses goes away
};

}  // namespace tolvane
