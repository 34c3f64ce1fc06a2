#pragma once

#include <optional>

#include "kit/auth/auth_session.h"

namespace tolvane {

// Where the signed-in session lives between runs. Implementations serialise their own
// calls and may be used from any thread; neither call throws.
class SessionStorage {
 public:
  virtual ~SessionStorage() = default;

  // The stored session; none when nothing is stored or what is stored is unreadable.
  virtual std::optional<AuthSession> load() = 0;
  // Stores `session`, or removes whatever is stored when it is none. A failed write is
  // ignored: the next load returns what the storage actually holds.
  virtual void save(const std::optional<AuthSession>& session) = 0;
};

}  // namespace tolvane
