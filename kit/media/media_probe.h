#pragma once

#include <filesystem>

namespace tolvane {

// The playable length of a movie in seconds, measured from the packets that can actually
// be read (their presentation times plus durations, from the first to the last, over
// the audio and video streams), not from the duration the container states: a file cut
// off mid-recording states more than it holds. 0 when the file can't be read or holds
// no complete packet. Reads the whole file.
double probeDuration(const std::filesystem::path& path);

}  // namespace tolvane
