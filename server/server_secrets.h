#pragma once

#include <filesystem>
#include <string>

namespace tolvane::server {

// The server's signing keys: access tokens (JWT), upload tickets and the web forms'
// CSRF tokens. They live in a key file of their own (mode 0600) beside the database,
// made at first start, so that a copied or leaked database grants nothing.
struct ServerSecrets {
  std::string jwt;
  std::string upload;
  std::string csrf;

  // Reads the file, creating it with fresh random keys when missing. Throws
  // std::runtime_error with a sentence when it cannot be read or written.
  static ServerSecrets loadOrCreate(const std::filesystem::path& file);
};

}  // namespace tolvane::server
