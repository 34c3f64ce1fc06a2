#pragma once

#include <mutex>

#include "kit/auth/session_storage.h"

namespace tolvane {

// A session kept only in memory, for running without a keyring and for tests.
class MemorySessionStorage final : public SessionStorage {
 public:
  explicit MemorySessionStorage(std::optional<AuthSession> initial = std::nullopt) : stored_(std::move(initial)) {}

  std::optional<AuthSession> load() override {
    std::lock_guard lock(mutex_);
    return stored_;
  }
  void save(const std::optional<AuthSession>& session) override {
    std::lock_guard lock(mutex_);
    stored_ = session;
  }

 private:
  std::mutex mutex_;
  std::optional<AuthSession> stored_;  // guarded by mutex_
};

}  // namespace tolvane
