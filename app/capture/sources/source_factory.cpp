#include "app/capture/sources/source_factory.h"

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/pulse_audio_source.h"
#include "app/capture/sources/synthetic_bars_camera.h"
#include "app/capture/sources/synthetic_screen_source.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/synthetic_tone_source.h"
#include "app/capture/sources/v4l2_camera_source.h"
#include "app/capture/sources/v4l2_devices.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_screen_source.h"
#include "app/capture/sources/x11_window_source.h"

namespace tolvane {

std::unique_ptr<ScreenSource> SystemSourceFactory::openScreen(const CaptureTarget& target,
                                                              const ScreenCaptureSettings& settings) {
  if (SyntheticSources::isSyntheticScreen(target)) {
    SyntheticSources::requireEnabled();
    return std::make_unique<SyntheticScreenSource>(settings);
  }
  // Never a black movie: a session whose desktop X cannot see is refused before capture.
  if (auto reason = unrecordableSessionReason(xDisplayName_)) {
    throw CaptureSourceError(CaptureSourceError::Kind::serverUnavailable, *reason);
  }
  if (target.isDisplay()) {
    return std::make_unique<X11ScreenSource>(xDisplayName_, target.asDisplay().displayID, settings);
  }
  return std::make_unique<X11WindowSource>(xDisplayName_, target.asWindow().windowID, settings);
}

std::unique_ptr<AudioSource> SystemSourceFactory::openMicrophone(const std::optional<std::string>& id) {
  if (id && *id == SyntheticSources::toneID) {
    SyntheticSources::requireEnabled();
    return std::make_unique<SyntheticToneSource>();
  }
  PulseAudioDevices devices = PulseAudioDevices::query();
  std::optional<std::string> name = id && devices.hasSource(*id) ? id : devices.defaultInput();
  if (!name) {
    throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable, "Tolvane couldn't find that microphone.");
  }
  return std::make_unique<PulseAudioSource>(PulseAudioSource::Options{
      *name, false, "Tolvane couldn't read from that microphone.", "That microphone is in use by another app."});
}

std::unique_ptr<AudioSource> SystemSourceFactory::openSystemAudio() {
  auto monitor = PulseAudioDevices::query().systemAudioSource();
  if (!monitor) {
    throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable,
                             "Tolvane couldn't find the computer's sound output.");
  }
  return std::make_unique<PulseAudioSource>(
      PulseAudioSource::Options{*monitor, true, "Tolvane couldn't record the computer's sound.", {}});
}

std::unique_ptr<CameraSource> SystemSourceFactory::openCamera(const std::string& id) {
  if (id == SyntheticSources::barsID) {
    SyntheticSources::requireEnabled();
    return std::make_unique<SyntheticBarsCamera>();
  }
  auto device = V4L2Devices::find(id);
  if (!device) {
    throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable, "Tolvane couldn't find that camera.");
  }
  return std::make_unique<V4L2CameraSource>(device->path);
}

}  // namespace tolvane
