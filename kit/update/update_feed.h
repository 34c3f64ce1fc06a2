#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kit/update/ed25519_key.h"
#include "kit/update/update_error.h"

namespace tolvane {

// One downloadable release in the update feed.
struct UpdateRelease {
  std::string version, minimumOS, packageURL, sha256, signature, notes, publishedAt;
  std::int64_t size = 0;

  // packageURL made absolute: kept when it has a scheme, else resolved against the
  // feed's own URL ("packages/x.deb" next to ".../updates/feed.json", "/x.deb" at its host).
  std::string packageURLRelativeTo(std::string_view feedURL) const;

  nlohmann::json toJSON() const;
  // Throws UpdateError when a field is missing or malformed (a hash that isn't 64 hex
  // characters, a signature that isn't base64 of 64 bytes, a negative size, a bad date).
  static UpdateRelease fromJSON(const nlohmann::json& object);
  bool operator==(const UpdateRelease&) const = default;
};

// The signed list of releases. On the wire it is a document
//   {"feed": "<base64 of the payload JSON>", "signature": "<base64 Ed25519 over the payload bytes>"}
// so the signature covers exact bytes and no JSON canonicalisation is needed; the
// payload is {"generatedAt", "expiresAt", "releases": [...]}.
struct UpdateFeed {
  std::string generatedAt, expiresAt;
  std::vector<UpdateRelease> releases;

  // The newest release strictly newer than `current` (DesktopRelease's version rule), if any.
  std::optional<UpdateRelease> newestAfter(std::string_view current) const;

  nlohmann::json toJSON() const;
  static UpdateFeed fromJSON(const nlohmann::json& object);  // throws UpdateError
  bool operator==(const UpdateFeed&) const = default;
};

// Checks what the server sends against the public key the application trusts.
class UpdateFeedVerifier {
 public:
  explicit UpdateFeedVerifier(std::string publicKeyBase64);  // throws UpdateError on a bad key

  // Parses and checks a served document: signature over the payload, well-formed
  // payload, not expired at `now`, generatedAt not older than `notBefore` (the last
  // accepted feed's generatedAt, so a replayed older feed is refused; empty or not a
  // date: no such check). Throws UpdateError("<one sentence>") otherwise.
  UpdateFeed verify(std::string_view document, std::chrono::system_clock::time_point now,
                    std::string_view notBefore = {}) const;

  // Checks a downloaded package file against its release: size, SHA-256, signature.
  // Throws UpdateError naming what did not match.
  void verifyPackage(const std::filesystem::path& file, const UpdateRelease& release) const;

 private:
  std::shared_ptr<const Ed25519Key> key_;  // shared so the verifier stays copyable
};

}  // namespace tolvane
