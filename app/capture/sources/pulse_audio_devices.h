#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/capture/sources/capture_target.h"

namespace tolvane {

// What the PulseAudio server (or PipeWire's PulseAudio service) offers, read in one short
// conversation. The server comes from the usual client configuration ($PULSE_SERVER, the
// user's runtime directory).
class PulseAudioDevices {
 public:
  struct Source {
    std::string name;         // the server's name, e.g. "alsa_input.usb-…"; the option's id
    std::string description;  // e.g. "Blue Yeti Analog Stereo"
    bool isMonitor = false;   // the monitor of a sink: what it plays, not a microphone
  };

  // Asks the server. An unreachable server yields no sources and no defaults.
  static PulseAudioDevices query();


  // Sources that are not monitors, in the server's order.
  std::vector<AudioDeviceOption> microphones() const;
  // The source to record when no microphone is chosen or the chosen one is gone: the
  // server's default source when it is a microphone, else the first microphone.
  std::optional<std::string> defaultInput() const;
  // The monitor of the default sink: the computer's own sound.
  std::optional<std::string> systemAudioSource() const;
  bool hasSource(const std::string& name) const;

 private:
  std::vector<Source> sources_;
  std::string defaultSourceName_;
  std::string defaultSinkMonitor_;
};

}  // namespace tolvane
