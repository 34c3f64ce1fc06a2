#pragma once

#include <filesystem>
#include <string>

namespace tolvane {

// A short text that changes whenever the movie at `file` is rewritten (a trim writes a
// new file; a repair rewrites one in place): its size and its modification time to the
// nanosecond. "missing" when the file cannot be read. Pictures made of the movie are
// named with it, so a changed movie never shows the picture of the old one.
std::string movieVersion(const std::filesystem::path& file);

}  // namespace tolvane
