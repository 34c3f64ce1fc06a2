#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace tolvane {

// A whole file mapped read-only, so that a package of any size can be hashed and its
// Ed25519 signature (which takes the message at once) checked without a copy in memory.
class MappedFile {
 public:
  // Throws UpdateError("Couldn't read <what>: <reason>.").
  MappedFile(const std::filesystem::path& file, std::string_view what);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view bytes() const;
  std::int64_t size() const { return static_cast<std::int64_t>(size_); }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace tolvane
