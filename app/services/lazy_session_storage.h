#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "kit/auth/session_storage.h"

namespace tolvane {

// Opens the real storage on first use: finding the keyring costs a D-Bus round trip, and
// most commands (listing the vault, recording) never need the session.
class LazySessionStorage final : public SessionStorage {
 public:
  using Factory = std::function<std::unique_ptr<SessionStorage>()>;
  explicit LazySessionStorage(Factory factory) : factory_(std::move(factory)) {}

  std::optional<AuthSession> load() override { return storage().load(); }
  void save(const std::optional<AuthSession>& session) override { storage().save(session); }

 private:
  SessionStorage& storage() {
    std::call_once(opened_, [this] { storage_ = factory_(); });
    return *storage_;
  }

  Factory factory_;
  std::once_flag opened_;
  std::unique_ptr<SessionStorage> storage_;
};

}  // namespace tolvane
