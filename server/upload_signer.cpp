#include "server/upload_signer.h"

#include "server/server_crypto.h"

namespace tolvane::server {

std::string UploadSigner::signature(int64_t expire, const std::string& videoUid) const {
  return crypto::toHex(crypto::hmacSha256(secret_, libraryId_ + "\n" + std::to_string(expire) + "\n" + videoUid + "\n"));
}

UploadSigner::Check UploadSigner::check(const std::string& givenSignature, const std::string& libraryId, int64_t expire,
                                        const std::string& videoUid, int64_t now) const {
  if (libraryId != libraryId_) return Check::mismatch;
  if (!crypto::constantTimeEquals(signature(expire, videoUid), givenSignature)) return Check::mismatch;
  if (expire <= now) return Check::expired;
  return Check::valid;
}

}  // namespace tolvane::server
