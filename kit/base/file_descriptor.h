#pragma once

#include <string_view>
#include <utility>

namespace tolvane {

// The sole owner of a POSIX file descriptor, closed when the owner goes away or is reset;
// -1 stands for none. Moving hands the descriptor on.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it; the caller closes it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and takes `fd` instead.
  void reset(int fd = -1);
  // Writes all of `bytes`, going on after short writes and interruptions; false (with
  // errno set) when the system refuses.
  bool writeAll(std::string_view bytes) const;

 private:
  int fd_ = -1;
};

}  // namespace tolvane
