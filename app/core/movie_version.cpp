#include "app/core/movie_version.h"

#include <chrono>
#include <system_error>

namespace tolvane {

std::string movieVersion(const std::filesystem::path& file) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error) return "missing";
  const auto modified = std::filesystem::last_write_time(file, error);
  if (error) return "missing";
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
  return std::to_string(size) + "-" + std::to_string(nanoseconds);
}

}  // namespace tolvane
