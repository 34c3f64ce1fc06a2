#pragma once

#include <cstdint>
#include <optional>

namespace tolvane {

// Bytes this process has read so far through read()-like calls, page cache hits
// included (`rchar` of /proc/self/io): what a measurement reads of a file, whether or
// not the disk was touched. None where the kernel does not keep the count.
std::optional<std::uint64_t> processReadBytes();

}  // namespace tolvane
