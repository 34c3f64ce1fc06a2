#pragma once

#include <filesystem>

namespace tolvane {

// The playable length of an MP4 movie in seconds, measured from the samples its index
// and fragment headers list whose bytes are actually in the file (from the first sample
// to the end of the last, over the audio and video tracks), not from the duration the
// container states: a file cut off mid-recording states more than it holds, and one cut
// mid-fragment lists samples it no longer has. 0 when the file can't be read or holds no
// complete sample. Reads only the index and the fragment headers, never the media data.
double probeDuration(const std::filesystem::path& path);

}  // namespace tolvane
