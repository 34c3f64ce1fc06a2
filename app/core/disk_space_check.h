#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

// What the disk watch does with the free space it read during a recording: below
// 700 MiB the recording stops so that what was captured can still be finished; below
// 2 GiB the user is warned; with more the warning goes away.
namespace DiskSpaceCheck {

inline constexpr std::int64_t stopBelowBytes = 734'003'200;     // 700 MiB
inline constexpr std::int64_t warnBelowBytes = 2'147'483'648;   // 2 GiB
inline constexpr double intervalSeconds = 10;

inline constexpr const char* stoppedMessage =
    "This computer is nearly out of disk space, so Tolvane stopped the recording to make sure what you captured is "
    "saved.";

struct Verdict {
  std::optional<std::string> warning;  // none clears the warning
  bool stopRecording = false;
};

Verdict assess(std::int64_t freeBytes);

}  // namespace DiskSpaceCheck

}  // namespace tolvane
