#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// Replaces `path` with `contents` so that a crash at any moment leaves either the old
// file or the new one, whole: the bytes go to a hidden temporary file in the same
// directory, are flushed with fsync, renamed over `path`, and the directory is flushed
// so the rename itself is durable. Throws std::system_error naming the failed step;
// the temporary file is removed on failure. Temporary files left by writers that were
// killed mid-write are removed once they are a minute old.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

// The whole content of a regular file, read with as few system calls as possible; none
// when it cannot be opened, is not a regular file (a directory, a FIFO, a device) or is
// larger than `maxBytes`. `path` is relative to `directoryFd` unless it is absolute
// (AT_FDCWD for the working directory).
std::optional<std::string> readRegularFile(int directoryFd, const char* path, std::size_t maxBytes);

}  // namespace tolvane
