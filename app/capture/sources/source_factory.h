#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/capture/sources/audio_source.h"
#include "app/capture/sources/camera_source.h"
#include "app/capture/sources/capture_target.h"
#include "app/capture/sources/screen_source.h"

namespace tolvane {

// Opens the sources of one recording. Every method throws CaptureSourceError with the
// sentence the user reads when the source is missing or refuses.
class SourceFactory {
 public:
  virtual ~SourceFactory() = default;

  // targetGone "That display isn't available any more." / "That window has closed."
  virtual std::unique_ptr<ScreenSource> openScreen(const CaptureTarget& target,
                                                   const ScreenCaptureSettings& settings) = 0;
  // The microphone `id`, or the default input when it is absent or gone;
  // deviceUnavailable "Tolvane couldn't find that microphone." when there is neither.
  virtual std::unique_ptr<AudioSource> openMicrophone(const std::optional<std::string>& id) = 0;
  // What the computer plays.
  virtual std::unique_ptr<AudioSource> openSystemAudio() = 0;
  // deviceUnavailable "Tolvane couldn't find that camera." when no camera has `id`.
  virtual std::unique_ptr<CameraSource> openCamera(const std::string& id) = 0;
};

// The machine's own sources: X11 screens and windows, PulseAudio inputs and sound
// output, V4L2 cameras, and the synthetic sources by their ids (when switched on, see
// synthetic_sources.h). A screen of a session X cannot record (Wayland) is refused with
// serverUnavailable and the sentence that says what to do.
class SystemSourceFactory : public SourceFactory {
 public:
  // `xDisplayName` empty means $DISPLAY.
  explicit SystemSourceFactory(std::string xDisplayName = {}) : xDisplayName_(std::move(xDisplayName)) {}

  std::unique_ptr<ScreenSource> openScreen(const CaptureTarget& target, const ScreenCaptureSettings& settings) override;
  std::unique_ptr<AudioSource> openMicrophone(const std::optional<std::string>& id) override;
  std::unique_ptr<AudioSource> openSystemAudio() override;
  std::unique_ptr<CameraSource> openCamera(const std::string& id) override;

 private:
  std::string xDisplayName_;
};

}  // namespace tolvane
