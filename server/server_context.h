#pragma once

#include "kit/base/log.h"
#include "server/account_store.h"
#include "server/attempt_limiter.h"
#include "server/csrf_tokens.h"
#include "server/database.h"
#include "server/recording_store.h"
#include "server/request_guard.h"
#include "server/server_options.h"
#include "server/sign_in_store.h"
#include "server/token_service.h"
#include "server/tus_store.h"
#include "server/upload_signer.h"
#include "server/web_session_store.h"

namespace tolvane::server {

// How fast unauthenticated callers may go: requests that create rows (sign-in starts,
// sign-in attempts) per address, and wrong passwords per account and per address.
struct Throttles {
  Throttles(int creationsPerMinute, int wrongPasswordsPerMinute)
      : creations(creationsPerMinute, 60), wrongPasswords(wrongPasswordsPerMinute, 60) {}

  AttemptLimiter creations;
  AttemptLimiter wrongPasswords;
};

// The stores and settings the route classes share. Owned by TolvaneServer, which
// outlives every request; the stores are thread-safe.
struct ServerContext {
  const ServerOptions& options;
  AccountStore& accounts;
  TokenService& tokens;
  SignInStore& signIns;
  RecordingStore& recordings;
  TusStore& uploads;
  UploadSigner& signer;
  WebSessionStore& webSessions;
  const RequestGuard& guard;
  const CsrfTokens& csrf;
  Throttles& throttles;
  Logger log;
};

}  // namespace tolvane::server
