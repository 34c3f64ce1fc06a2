#include "kit/media/mp4_box_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

Mp4BoxReader::Mp4BoxReader(const std::filesystem::path& path, bool writable) {
  fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  struct stat info {};
  if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
    fileSize_ = static_cast<std::uint64_t>(info.st_size);
  } else if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Mp4BoxReader::~Mp4BoxReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<Mp4Box> Mp4BoxReader::boxAt(std::uint64_t offset, std::uint64_t limit) const {
  if (offset + 8 > limit) return std::nullopt;
  const auto header = read(offset, 8);
  if (!header) return std::nullopt;
  Mp4Fields fields(*header);
  Mp4Box box;
  box.offset = offset;
  box.size = fields.u(4);
  box.type = header->substr(4, 4);
  box.headerSize = 8;
  if (box.size == 1) {
    const auto large = read(offset + 8, 8);
    if (!large) return std::nullopt;
    box.size = Mp4Fields(*large).u(8);
    box.headerSize = 16;
  } else if (box.size == 0) {
    box.size = limit - offset;  // runs to the end of its container
  }
  if (box.size < box.headerSize) return std::nullopt;
  return box;
}

std::vector<Mp4Box> Mp4BoxReader::boxesBetween(std::uint64_t begin, std::uint64_t end) const {
  std::vector<Mp4Box> boxes;
  for (auto box = boxAt(begin, end); box; box = boxAt(box->end(), end)) {
    boxes.push_back(*box);
    if (box->end() > end) break;
  }
  return boxes;
}

std::vector<Mp4Box> Mp4BoxReader::children(const Mp4Box& parent) const {
  return boxesBetween(parent.payloadOffset(), parent.end());
}

std::optional<Mp4Box> Mp4BoxReader::child(const Mp4Box& parent, std::string_view type) const {
  for (const auto& box : children(parent)) {
    if (box.type == type) return box;
  }
  return std::nullopt;
}

std::optional<std::string> Mp4BoxReader::read(std::uint64_t offset, std::uint64_t length) const {
  if (fd_ < 0 || offset + length > fileSize_) return std::nullopt;
  std::string bytes(length, '\0');
  std::uint64_t done = 0;
  while (done < length) {
    const auto n = ::pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n <= 0) return std::nullopt;
    done += static_cast<std::uint64_t>(n);
  }
  return bytes;
}

bool Mp4BoxReader::write(std::uint64_t offset, const std::string& bytes) const {
  std::uint64_t done = 0;
  while (done < bytes.size()) {
    const auto n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

std::uint64_t Mp4Fields::u(int byteCount) {
  if (position_ + static_cast<std::uint64_t>(byteCount) > bytes_.size()) {
    overrun_ = true;
    position_ = bytes_.size();
    return 0;
  }
  std::uint64_t value = 0;
  for (int i = 0; i < byteCount; ++i) value = (value << 8) | static_cast<unsigned char>(bytes_[position_++]);
  return value;
}

void Mp4Fields::skip(std::uint64_t byteCount) {
  if (position_ + byteCount > bytes_.size()) {
    overrun_ = true;
    position_ = bytes_.size();
    return;
  }
  position_ += byteCount;
}

std::string bigEndian(std::uint64_t value, int byteCount) {
  std::string bytes(static_cast<std::size_t>(byteCount), '\0');
  for (int i = byteCount - 1; i >= 0; --i, value >>= 8) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
  return bytes;
}

}  // namespace tolvane
