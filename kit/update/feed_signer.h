#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "kit/update/ed25519_key.h"
#include "kit/update/update_feed.h"

namespace tolvane {

// The publishing side of the update feed: signs packages and the feed document with the
// private key. The server's `release publish` and the tests share it.
class FeedSigner {
 public:
  explicit FeedSigner(std::string_view privateKeyBase64);  // throws UpdateError on a bad key
  // Reads a key file (one line of base64); throws UpdateError naming the file.
  static FeedSigner fromKeyFile(const std::filesystem::path& file);

  std::string publicKeyBase64() const { return key_.publicKeyBase64(); }

  // `release` with size, sha256 and signature filled in from the package file.
  UpdateRelease describePackage(const std::filesystem::path& package, UpdateRelease release) const;

  // The served document for `feed` as given (its dates included).
  std::string document(const UpdateFeed& feed) const;
  // A document over `releases`, generated at `now` and expiring `lifetime` later.
  std::string document(std::vector<UpdateRelease> releases, std::chrono::system_clock::time_point now,
                       std::chrono::seconds lifetime) const;

  // The payload of a document this side wrote earlier, read back without checking its
  // signature or dates (the publisher reads its own file to add a release).
  static UpdateFeed readDocument(std::string_view document);  // throws UpdateError

 private:
  Ed25519Key key_;
};

}  // namespace tolvane
