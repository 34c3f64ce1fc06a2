#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "kit/auth/session_storage.h"
#include "kit/base/log.h"

namespace tolvane {

// The session as a Secret Service item (the desktop keyring) through libsecret: one
// item with the attributes service = the application id and account = `account`,
// whose secret is the session's stored JSON.
//
// Every call gives up after `timeout` (a locked keyring waiting on an unlock prompt, a
// hung daemon), so reading never blocks for long: a load that times out reads as no
// session, a save that times out is dropped like any failed write.
class SecretServiceSessionStorage final : public SessionStorage {
 public:
  // The literal behind kApplicationID ends in a NUL, so its data() is a C string.
  static constexpr const char* service = kApplicationID.data();

  explicit SecretServiceSessionStorage(std::string account,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(3));

  // True when a session bus is configured, a Secret Service answers on it within
  // `timeout`, and its default keyring exists and is unlocked (so reads and writes need
  // no prompt). Never starts a bus (no X11 autolaunch).
  static bool isAvailable(std::chrono::milliseconds timeout = std::chrono::seconds(3));

  std::optional<AuthSession> load() override;
  void save(const std::optional<AuthSession>& session) override;

  // The raw item, for tests and diagnostics: the secret text, or none.
  std::optional<std::string> readSecret();
  bool writeSecret(const std::string& secret);
  bool deleteSecret();

 private:
  std::string account_;
  std::chrono::milliseconds timeout_;
  std::mutex mutex_;
  Logger log_{"auth"};
};

}  // namespace tolvane
