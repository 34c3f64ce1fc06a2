#include "kit/auth/session_storage_factory.h"

#include "kit/auth/file_session_storage.h"
#include "kit/auth/secret_service_session_storage.h"
#include "kit/base/log.h"

namespace tolvane {

std::unique_ptr<SessionStorage> makeSessionStorage(const std::string& account) {
  if (SecretServiceSessionStorage::isAvailable()) return std::make_unique<SecretServiceSessionStorage>(account);
  auto file = std::make_unique<FileSessionStorage>(FileSessionStorage::defaultPath(account));
  Logger{"auth"}.warning("no unlocked Secret Service keyring; keeping the sign-in in {} (readable only by you)",
                         file->path().string());
  return file;
}

}  // namespace tolvane
