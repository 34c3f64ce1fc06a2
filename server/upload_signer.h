#pragma once

#include <cstdint>
#include <string>

namespace tolvane::server {

// Signs and checks the authorisation of tus requests. A ticket's signature is the
// HMAC-SHA-256 (hex) under the server's upload secret of library id, expiry and video
// id, each field ended by a newline so that no two tickets sign the same text; the app
// passes it back in the "AuthorizationSignature" header with the other three values.
class UploadSigner {
 public:
  enum class Check { valid, mismatch, expired };

  UploadSigner(std::string libraryId, std::string secret) : libraryId_(std::move(libraryId)), secret_(std::move(secret)) {}

  const std::string& libraryId() const { return libraryId_; }
  std::string signature(int64_t expire, const std::string& videoUid) const;
  Check check(const std::string& signature, const std::string& libraryId, int64_t expire, const std::string& videoUid,
              int64_t now) const;

 private:
  std::string libraryId_;
  std::string secret_;
};

}  // namespace tolvane::server
