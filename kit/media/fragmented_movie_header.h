#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace tolvane {

// Completes the header a fragmented movie was started with, in place, once the last
// fragment is written: each track's length (`trackSeconds`, in the order of the tracks)
// goes into the duration fields of its headers and the longest into the movie header, so
// players know the length up front instead of working it out from the fragments; a track
// that never got a sample (nullopt) is turned into free space, as a regular MP4 would
// leave it out. Only fixed-size fields and box types change: nothing moves, and the cost
// does not grow with the recording. False when the file could not be updated; the movie
// still plays either way.
bool finishFragmentedMovieHeader(const std::filesystem::path& movie,
                                 const std::vector<std::optional<double>>& trackSeconds);

}  // namespace tolvane
