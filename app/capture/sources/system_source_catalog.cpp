#include "app/capture/sources/system_source_catalog.h"

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/v4l2_devices.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"

namespace tolvane {

ShareableContent SystemSourceCatalog::shareableContent() {
  if (auto reason = unrecordableSessionReason(xDisplayName_)) {
    throw CaptureSourceError(CaptureSourceError::Kind::serverUnavailable, *reason);
  }
  X11Connection connection(xDisplayName_);
  return X11ContentReader(connection).read();
}

std::vector<AudioDeviceOption> SystemSourceCatalog::microphones() { return PulseAudioDevices::query().microphones(); }

std::vector<CameraOption> SystemSourceCatalog::cameras() { return V4L2Devices::cameras(); }

}  // namespace tolvane
