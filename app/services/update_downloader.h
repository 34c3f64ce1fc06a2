#pragma once

#include <filesystem>
#include <memory>
#include <stop_token>

#include "kit/config/url.h"
#include "kit/net/http_performing.h"
#include "kit/update/update_feed.h"

namespace tolvane {

// Fetches a release's package into the user's cache and hands it out only once it has
// been checked against the signed feed (size, SHA-256, signature). A verified package
// stays until an install succeeds, so a failed or postponed install does not download it
// again; a file that fails the check is deleted.
class UpdateDownloader {
 public:
  UpdateDownloader(std::shared_ptr<HTTPPerforming> http, std::shared_ptr<const UpdateFeedVerifier> verifier,
                   std::filesystem::path directory = defaultDirectory());

  // $XDG_CACHE_HOME/tolvane/updates (~/.cache when the variable is unset or relative).
  static std::filesystem::path defaultDirectory();

  // Where `release` is kept: "tolvane_<version>.deb" in the directory. Throws UpdateError
  // for a version that can't stand in a file name.
  std::filesystem::path packagePath(const UpdateRelease& release) const;

  // The verified package of `release`: the one kept from before when it still verifies,
  // else a fresh download from its URL (resolved against `feedURL`), written under a
  // hidden ".partial" name and renamed when complete. Throws UpdateError (a bad URL, an
  // answer other than 200, a file that fails the check), TransportError or
  // CancellationError; nothing unverified is left behind under the package's name.
  std::filesystem::path download(const UpdateRelease& release, const Url& feedURL, std::stop_token stop = {}) const;

  // After a successful install: removes every package and partial download kept here.
  void discardAll() const;

 private:
  bool keptCopyVerifies(const std::filesystem::path& file, const UpdateRelease& release) const;

  std::shared_ptr<HTTPPerforming> http_;
  std::shared_ptr<const UpdateFeedVerifier> verifier_;
  std::filesystem::path directory_;
};

}  // namespace tolvane
