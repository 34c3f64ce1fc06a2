#include "kit/base/file_descriptor.h"

#include <unistd.h>

namespace tolvane {

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace tolvane
