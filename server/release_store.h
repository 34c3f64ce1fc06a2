#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "kit/update/feed_signer.h"
#include "kit/update/update_feed.h"

namespace tolvane::server {

// The desktop releases this server offers for update, under DATA/updates:
//   feed.json           the signed feed document, served as it is
//   packages/<name>     the packages, under the file names they were published with
// Publishing adds or replaces one release, keeps the others and re-signs the feed; the
// running server reads the files on each request, so a publish needs no restart.
class ReleaseStore {
 public:
  // A feed lives this long after its last publish; republish before it runs out.
  static constexpr std::chrono::seconds kFeedLifetime = std::chrono::hours(24 * 30);

  explicit ReleaseStore(std::filesystem::path dataDirectory);

  std::filesystem::path feedFile() const { return root_ / "feed.json"; }
  std::filesystem::path packageDirectory() const { return root_ / "packages"; }

  // Copies `package` in, lists it as `release` (its size, hash and signature filled in,
  // packageURL "packages/<name>" relative to the feed) and writes a freshly signed feed.
  // A release of the same version is replaced. Returns the release as listed. Throws
  // std::runtime_error (UpdateError for key and feed problems) with a sentence.
  UpdateRelease publish(const std::filesystem::path& package, UpdateRelease release, const FeedSigner& signer,
                        std::chrono::system_clock::time_point now) const;

  // The current feed document; none before the first publish.
  std::optional<std::string> feedDocument() const;
  // The stored package of that name; none when the name is not a plain file name of
  // ours (no folders, no dot files) or nothing is stored under it.
  std::optional<std::filesystem::path> package(std::string_view name) const;

  // The names publish accepts and package() serves.
  static bool isPackageName(std::string_view name);

 private:
  std::filesystem::path root_;
};

}  // namespace tolvane::server
