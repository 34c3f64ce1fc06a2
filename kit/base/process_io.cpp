#include "kit/base/process_io.h"

#include <fstream>
#include <string>

namespace tolvane {

std::optional<std::uint64_t> processReadBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return std::nullopt;
}

}  // namespace tolvane
