#include "server/password_hasher.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <array>
#include <charconv>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "server/server_crypto.h"

namespace tolvane::server {
namespace {

constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kSaltBytes = 16;

std::optional<std::string> scrypt(std::string_view password, const std::string& salt, const PasswordHasher::Cost& cost) {
  std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr), &EVP_KDF_free);
  if (!kdf) return std::nullopt;
  std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> context(EVP_KDF_CTX_new(kdf.get()), &EVP_KDF_CTX_free);
  if (!context) return std::nullopt;
  uint64_t n = cost.n;
  uint32_t r = cost.r;
  uint32_t p = cost.p;
  const std::array<OSSL_PARAM, 6> params{
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, const_cast<char*>(password.data()), password.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()), salt.size()),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
      OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
      OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
      OSSL_PARAM_construct_end()};
  std::string out(kHashBytes, '\0');
  if (EVP_KDF_derive(context.get(), reinterpret_cast<unsigned char*>(out.data()), out.size(), params.data()) != 1) {
    return std::nullopt;
  }
  return out;
}

template <typename T>
std::optional<T> number(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::string> unhex(std::string_view text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(char(high * 16 + low));
  }
  return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (true) {
    const auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::string PasswordHasher::hash(std::string_view password) const {
  const std::string saltHex = crypto::randomHex(kSaltBytes);
  const auto salt = unhex(saltHex);
  const auto derived = scrypt(password, *salt, cost_);
  if (!derived) throw std::runtime_error("OpenSSL couldn't derive a password hash.");
  return fmt::format("scrypt${}${}${}${}${}", cost_.n, cost_.r, cost_.p, saltHex, crypto::toHex(*derived));
}

bool PasswordHasher::verify(std::string_view password, std::string_view stored) {
  const auto parts = split(stored, '$');
  if (parts.size() != 6 || parts[0] != "scrypt") return false;
  Cost cost;
  const auto n = number<uint64_t>(parts[1]);
  const auto r = number<uint32_t>(parts[2]);
  const auto p = number<uint32_t>(parts[3]);
  const auto salt = unhex(parts[4]);
  const auto expected = unhex(parts[5]);
  // Costs far beyond what this class makes would let a planted hash exhaust the machine.
  if (!n || !r || !p || !salt || !expected || *n < 2 || *n > (uint64_t(1) << 20) || *r == 0 || *r > 32 || *p == 0 ||
      *p > 16 || expected->size() != kHashBytes) {
    return false;
  }
  cost.n = *n;
  cost.r = *r;
  cost.p = *p;
  const auto derived = scrypt(password, *salt, cost);
  return derived && crypto::constantTimeEquals(*derived, *expected);
}

void PasswordHasher::waste(std::string_view password) const {
  (void)scrypt(password, std::string(kSaltBytes, '\0'), cost_);
}

}  // namespace tolvane::server
