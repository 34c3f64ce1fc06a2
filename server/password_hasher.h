#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane::server {

// Account passwords, kept as scrypt hashes (OpenSSL's KDF) with a random salt per
// password. The stored text names the algorithm and its cost next to salt and hash,
// "scrypt$N$r$p$salt$hash", so the cost can be raised later without breaking old ones.
class PasswordHasher {
 public:
  struct Cost {
    uint64_t n = uint64_t(1) << 15;  // 32 MiB of memory with r = 8
    uint32_t r = 8;
    uint32_t p = 1;
  };

  PasswordHasher() : cost_(Cost()) {}
  explicit PasswordHasher(Cost cost) : cost_(cost) {}

  std::string hash(std::string_view password) const;
  // Whether `password` matches `stored`; false for stored text this class did not make.
  static bool verify(std::string_view password, std::string_view stored);
  // Spends the time of one verification, so an unknown account answers as slowly as a
  // known one with a wrong password.
  void waste(std::string_view password) const;

  static constexpr std::size_t minimumLength = 8;

 private:
  Cost cost_;
};

}  // namespace tolvane::server
