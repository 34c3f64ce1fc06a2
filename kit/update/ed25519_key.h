#pragma once

#include <memory>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace tolvane {

// An Ed25519 key (OpenSSL's EVP API). Key text is base64 of the raw 32 bytes: the
// public key, or for a private key its seed, which also yields the public half.
// Signatures are the raw 64 bytes. Ed25519 hashes the whole message itself, so sign()
// and verify() take the message at once; callers map large files rather than copy them.
class Ed25519Key {
 public:
  struct KeyPair {
    std::string publicKeyBase64;
    std::string privateKeyBase64;
  };

  static KeyPair generateKeyPair();
  // Both throw UpdateError when the text is not base64 of exactly 32 bytes. Surrounding
  // white space (a key file's newline) is ignored.
  static Ed25519Key fromPublicKey(std::string_view base64);
  static Ed25519Key fromPrivateKey(std::string_view base64);

  Ed25519Key(Ed25519Key&&) noexcept;
  Ed25519Key& operator=(Ed25519Key&&) noexcept;
  ~Ed25519Key();

  bool hasPrivateKey() const { return hasPrivateKey_; }
  std::string publicKeyBase64() const;

  // Throws UpdateError on a public-only key.
  std::string sign(std::string_view bytes) const;
  // False for a signature that does not match, including one of the wrong length.
  bool verify(std::string_view bytes, std::string_view signature) const;

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const;
  };
  Ed25519Key(EVP_PKEY* key, bool hasPrivateKey);

  std::unique_ptr<EVP_PKEY, Free> key_;
  bool hasPrivateKey_ = false;
};

}  // namespace tolvane
