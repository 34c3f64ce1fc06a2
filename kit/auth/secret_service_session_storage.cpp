#include "kit/auth/secret_service_session_storage.h"

#include <condition_variable>
#include <cstdlib>
#include <thread>

#include <libsecret/secret.h>

namespace tolvane {
namespace {

SecretSchema makeSchema() {
  SecretSchema schema{};
  schema.name = "com.tolvanelabs.Tolvane.Session";
  // Items are found by their attributes alone, whatever schema name stored them.
  schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
  schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
  schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
  return schema;
}

const SecretSchema* sessionSchema() {
  static const SecretSchema schema = makeSchema();
  return &schema;
}

// A GCancellable that cancels itself when `timeout` passes before the object dies, so
// that a synchronous libsecret call can never hang on a prompt or a stuck daemon.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds timeout) : cancellable_(g_cancellable_new()) {
    watchdog_ = std::jthread([this, timeout](std::stop_token stop) {
      std::mutex mutex;
      std::condition_variable_any wake;
      std::unique_lock lock(mutex);
      if (!wake.wait_for(lock, stop, timeout, [] { return false; }) && !stop.stop_requested()) {
        g_cancellable_cancel(cancellable_);
      }
    });
  }
  ~Deadline() {
    watchdog_.request_stop();
    watchdog_.join();
    g_object_unref(cancellable_);
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  GCancellable* cancellable() const { return cancellable_; }

 private:
  GCancellable* cancellable_;
  std::jthread watchdog_;
};

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error != nullptr) g_error_free(error);
  }
  std::string message() const { return error != nullptr ? error->message : "unknown error"; }
};

}  // namespace

SecretServiceSessionStorage::SecretServiceSessionStorage(std::string account, std::chrono::milliseconds timeout)
    : account_(std::move(account)), timeout_(timeout) {}

bool SecretServiceSessionStorage::isAvailable(std::chrono::milliseconds timeout) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (bus == nullptr || *bus == '\0') return false;
  Deadline deadline(timeout);
  ErrorHolder error;
  // A fresh connection each time: the shared one would be cached for the process even
  // when the bus went away.
  SecretService* proxy =
      secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, deadline.cancellable(),
                               &error.error);
  if (proxy == nullptr) return false;
  // Writing into a missing or locked default keyring needs an unlock prompt, which a
  // headless machine cannot show and which no call here waits for.
  SecretCollection* collection = secret_collection_for_alias_sync(proxy, SECRET_COLLECTION_DEFAULT,
                                                                  SECRET_COLLECTION_NONE, deadline.cancellable(),
                                                                  &error.error);
  const bool usable = collection != nullptr && !secret_collection_get_locked(collection);
  if (collection != nullptr) g_object_unref(collection);
  g_object_unref(proxy);
  return usable;
}

std::optional<std::string> SecretServiceSessionStorage::readSecret() {
  Deadline deadline(timeout_);
  ErrorHolder error;
  gchar* secret = secret_password_lookup_sync(sessionSchema(), deadline.cancellable(), &error.error, "service",
                                              service, "account", account_.c_str(), nullptr);
  if (error.error != nullptr) log_.error("keyring read failed: {}", error.message());
  if (secret == nullptr) return std::nullopt;
  std::string text(secret);
  secret_password_free(secret);
  return text;
}

bool SecretServiceSessionStorage::writeSecret(const std::string& secret) {
  Deadline deadline(timeout_);
  ErrorHolder error;
  const gboolean stored =
      secret_password_store_sync(sessionSchema(), SECRET_COLLECTION_DEFAULT, "Tolvane sign-in", secret.c_str(),
                                 deadline.cancellable(), &error.error, "service", service, "account",
                                 account_.c_str(), nullptr);
  if (!stored) log_.error("keyring write failed: {}", error.message());
  return stored;
}

bool SecretServiceSessionStorage::deleteSecret() {
  Deadline deadline(timeout_);
  ErrorHolder error;
  secret_password_clear_sync(sessionSchema(), deadline.cancellable(), &error.error, "service", service, "account",
                             account_.c_str(), nullptr);
  // Nothing to delete is success too.
  if (error.error != nullptr) {
    log_.error("keyring delete failed: {}", error.message());
    return false;
  }
  return true;
}

std::optional<AuthSession> SecretServiceSessionStorage::load() {
  std::lock_guard lock(mutex_);
  const auto secret = readSecret();
  if (!secret) return std::nullopt;
  // An unreadable item reads as signed out and stays where it is.
  return AuthSession::fromStoredJSON(*secret);
}

void SecretServiceSessionStorage::save(const std::optional<AuthSession>& session) {
  std::lock_guard lock(mutex_);
  if (session) {
    writeSecret(session->toStoredJSON());
    return;
  }
  deleteSecret();
}

}  // namespace tolvane
