#include "kit/update/ed25519_key.h"

#include <openssl/evp.h>

#include <array>

#include "kit/update/update_encoding.h"
#include "kit/update/update_error.h"

namespace tolvane {
namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string rawKey(std::string_view base64, const char* which) {
  const auto raw = update_encoding::base64Decode(trimmed(base64));
  if (!raw || raw->size() != kKeyBytes) {
    throw UpdateError(std::string("The ") + which + " key isn't base64 of a 32-byte Ed25519 key.");
  }
  return *raw;
}

const unsigned char* bytesOf(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

void Ed25519Key::Free::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

Ed25519Key::Ed25519Key(EVP_PKEY* key, bool hasPrivateKey) : key_(key), hasPrivateKey_(hasPrivateKey) {}
Ed25519Key::Ed25519Key(Ed25519Key&&) noexcept = default;
Ed25519Key& Ed25519Key::operator=(Ed25519Key&&) noexcept = default;
Ed25519Key::~Ed25519Key() = default;

Ed25519Key::KeyPair Ed25519Key::generateKeyPair() {
  EVP_PKEY* generated = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  if (generated == nullptr) throw UpdateError("Couldn't generate an Ed25519 key pair.");
  const Ed25519Key key(generated, true);
  std::array<unsigned char, kKeyBytes> seed{};
  std::size_t length = seed.size();
  if (EVP_PKEY_get_raw_private_key(key.key_.get(), seed.data(), &length) != 1 || length != kKeyBytes) {
    throw UpdateError("Couldn't read the generated Ed25519 key.");
  }
  KeyPair pair{.publicKeyBase64 = key.publicKeyBase64(),
               .privateKeyBase64 = update_encoding::base64Encode(
                   std::string_view(reinterpret_cast<const char*>(seed.data()), seed.size()))};
  // The seed is the whole secret; leave no copy in freed memory.
  OPENSSL_cleanse(seed.data(), seed.size());
  return pair;
}

Ed25519Key Ed25519Key::fromPublicKey(std::string_view base64) {
  const std::string raw = rawKey(base64, "public");
  EVP_PKEY* key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytesOf(raw), raw.size());
  if (key == nullptr) throw UpdateError("The public key isn't a valid Ed25519 key.");
  return Ed25519Key(key, false);
}

Ed25519Key Ed25519Key::fromPrivateKey(std::string_view base64) {
  std::string raw = rawKey(base64, "private");
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytesOf(raw), raw.size());
  OPENSSL_cleanse(raw.data(), raw.size());
  if (key == nullptr) throw UpdateError("The private key isn't a valid Ed25519 key.");
  return Ed25519Key(key, true);
}

std::string Ed25519Key::publicKeyBase64() const {
  std::array<unsigned char, kKeyBytes> raw{};
  std::size_t length = raw.size();
  if (EVP_PKEY_get_raw_public_key(key_.get(), raw.data(), &length) != 1 || length != kKeyBytes) {
    throw UpdateError("Couldn't read the Ed25519 public key.");
  }
  return update_encoding::base64Encode(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
}

std::string Ed25519Key::sign(std::string_view bytes) const {
  if (!hasPrivateKey_) throw UpdateError("Signing needs the private key; only the public key was given.");
  const DigestContext context(EVP_MD_CTX_new());
  std::string signature(kSignatureBytes, '\0');
  std::size_t length = signature.size();
  // Ed25519 takes no separate digest: NULL selects the algorithm's own.
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, bytesOf(bytes),
                     bytes.size()) != 1 ||
      length != kSignatureBytes) {
    throw UpdateError("Couldn't sign with the Ed25519 key.");
  }
  return signature;
}

bool Ed25519Key::verify(std::string_view bytes, std::string_view signature) const {
  if (signature.size() != kSignatureBytes) return false;
  const DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1) return false;
  return EVP_DigestVerify(context.get(), bytesOf(signature), signature.size(), bytesOf(bytes), bytes.size()) == 1;
}

}  // namespace tolvane
