#pragma once

#include <filesystem>
#include <mutex>

#include "kit/auth/session_storage.h"

namespace tolvane {

// The session as a file only its owner may read (mode 0600, in a 0700 directory),
// for machines without a Secret Service. Written atomically: a crash leaves either
// the old session or the new one.
class FileSessionStorage final : public SessionStorage {
 public:
  explicit FileSessionStorage(std::filesystem::path file);

  // "$XDG_CONFIG_HOME/tolvane/<account>.json", with ~/.config when the variable is unset.
  static std::filesystem::path defaultPath(const std::string& account);

  const std::filesystem::path& path() const { return file_; }

  std::optional<AuthSession> load() override;
  void save(const std::optional<AuthSession>& session) override;

 private:
  bool write(const std::string& contents);

  std::filesystem::path file_;
  std::mutex mutex_;
};

}  // namespace tolvane
