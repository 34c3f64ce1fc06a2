#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

// One ISO base media box: where it starts, its four-character type and how far it goes.
struct Mp4Box {
  std::string type;
  std::uint64_t offset = 0;
  std::uint64_t headerSize = 0;
  std::uint64_t size = 0;

  std::uint64_t payloadOffset() const { return offset + headerSize; }
  std::uint64_t payloadSize() const { return size - headerSize; }
  std::uint64_t end() const { return offset + size; }
};

// Reads an MP4 file box by box with positioned reads of exactly the bytes asked for, so
// walking a movie's structure never pulls its media data through the page cache into
// the process. Opened read-only, or for writing fixed-size fields back in place.
class Mp4BoxReader {
 public:
  explicit Mp4BoxReader(const std::filesystem::path& path, bool writable = false);
  ~Mp4BoxReader();
  Mp4BoxReader(const Mp4BoxReader&) = delete;
  Mp4BoxReader& operator=(const Mp4BoxReader&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  std::uint64_t fileSize() const { return fileSize_; }

  // The box starting at `offset` when its header lies before `limit`; a box that claims to
  // run past `limit` is returned as it claims (the caller decides whether it is cut off).
  std::optional<Mp4Box> boxAt(std::uint64_t offset, std::uint64_t limit) const;
  // The boxes directly inside `parent` (or from `begin` to `end`), in order.
  std::vector<Mp4Box> children(const Mp4Box& parent) const;
  std::vector<Mp4Box> boxesBetween(std::uint64_t begin, std::uint64_t end) const;
  // The first box of `type` directly inside `parent`.
  std::optional<Mp4Box> child(const Mp4Box& parent, std::string_view type) const;

  // Exactly `length` bytes from `offset`, or nothing when the file is shorter.
  std::optional<std::string> read(std::uint64_t offset, std::uint64_t length) const;
  std::optional<std::string> payload(const Mp4Box& box) const { return read(box.payloadOffset(), box.payloadSize()); }
  bool write(std::uint64_t offset, const std::string& bytes) const;

 private:
  int fd_ = -1;
  std::uint64_t fileSize_ = 0;
};

// Big-endian fields out of a box's payload; reading past the end yields zeros and marks
// the cursor as overrun, so a damaged box is noticed once at the end of its parsing.
class Mp4Fields {
 public:
  explicit Mp4Fields(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t u(int byteCount);
  void skip(std::uint64_t byteCount);
  std::uint64_t position() const { return position_; }
  bool overrun() const { return overrun_; }

 private:
  std::string bytes_;
  std::uint64_t position_ = 0;
  bool overrun_ = false;
};

// `value` as `byteCount` big-endian bytes.
std::string bigEndian(std::uint64_t value, int byteCount);

}  // namespace tolvane
