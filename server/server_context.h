#pragma once

#include "kit/base/log.h"
#include "server/account_store.h"
#include "server/database.h"
#include "server/recording_store.h"
#include "server/server_options.h"
#include "server/sign_in_store.h"
#include "server/token_service.h"
#include "server/tus_store.h"
#include "server/upload_signer.h"
#include "server/web_session_store.h"

namespace tolvane::server {

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
  Logger log;
};

}  // namespace tolvane::server
