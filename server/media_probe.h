#pragma once

#include <filesystem>
#include <optional>

namespace tolvane::server {

// What the server learns from an uploaded file.
struct ProbeResult {
  bool isPlayableMP4 = false;  // an MP4 container with a decodable video stream
  std::optional<double> durationSec;
};

// Probes an uploaded file with libavformat. Never throws: an unreadable or foreign file
// is simply not playable.
class MediaProbe {
 public:
  static ProbeResult probe(const std::filesystem::path& file);
};

}  // namespace tolvane::server
