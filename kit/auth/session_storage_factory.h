#pragma once

#include <memory>
#include <string>

#include "kit/auth/session_storage.h"

namespace tolvane {

// The storage the application uses for account `account` ("session"): the Secret
// Service when one answers on the session bus with an unlocked default keyring,
// otherwise (a headless machine) the file
// FileSessionStorage::defaultPath(account), with one warning in the log saying so.
std::unique_ptr<SessionStorage> makeSessionStorage(const std::string& account = "session");

}  // namespace tolvane
