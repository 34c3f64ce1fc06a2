#include "kit/update/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "kit/base/file_descriptor.h"
#include "kit/update/update_error.h"

namespace tolvane {
namespace {

[[noreturn]] void fail(std::string_view what, const std::filesystem::path& file, int error) {
  throw UpdateError(fmt::format("Couldn't read {} {}: {}.", what, file.string(), std::strerror(error)));
}

}  // namespace

MappedFile::MappedFile(const std::filesystem::path& file, std::string_view what) {
  const FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!descriptor.isOpen()) fail(what, file, errno);
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) fail(what, file, errno);
  if (!S_ISREG(status.st_mode)) fail(what, file, EINVAL);
  size_ = static_cast<std::size_t>(status.st_size);
  if (size_ == 0) return;  // mmap refuses an empty length; an empty view is the answer
  data_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, descriptor.get(), 0);
  if (data_ == MAP_FAILED) {
    data_ = nullptr;
    fail(what, file, errno);
  }
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

std::string_view MappedFile::bytes() const {
  return data_ == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(data_), size_);
}

}  // namespace tolvane
