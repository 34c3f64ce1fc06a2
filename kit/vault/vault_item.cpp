#include "kit/vault/vault_item.h"

#include <sys/stat.h>

namespace tolvane {

bool VaultItem::videoExists() const {
  struct stat info {};
  return ::stat(videoPath().c_str(), &info) == 0;
}

std::int64_t VaultItem::videoSizeOnDisk() const {
  struct stat info {};
  if (::stat(videoPath().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::int64_t>(info.st_size);
}

}  // namespace tolvane
