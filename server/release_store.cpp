#include "server/release_store.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "kit/update/desktop_release.h"
#include "kit/update/update_error.h"

namespace tolvane::server {
namespace {

namespace fs = std::filesystem;

// Writes next to the target and renames, so a server reading the feed at that moment
// sees the old document or the new one, never half of one.
void writeAtomically(const fs::path& target, std::string_view contents) {
  const fs::path temporary = target.parent_path() / ("." + target.filename().string() + ".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << contents;
    out.flush();
    if (!out) throw std::runtime_error(fmt::format("Couldn't write {}.", temporary.string()));
  }
  fs::rename(temporary, target);
}

bool newerFirst(const UpdateRelease& a, const UpdateRelease& b) {
  DesktopRelease left;
  left.version = a.version;
  return left.isNewer(b.version);
}

}  // namespace

ReleaseStore::ReleaseStore(fs::path dataDirectory) : root_(std::move(dataDirectory) / "updates") {}

bool ReleaseStore::isPackageName(std::string_view name) {
  if (name.empty() || name.size() > 200 || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-' || c == '+' || c == '~';
  });
}

UpdateRelease ReleaseStore::publish(const fs::path& package, UpdateRelease release, const FeedSigner& signer,
                                    std::chrono::system_clock::time_point now) const {
  const std::string name = package.filename().string();
  if (!isPackageName(name)) {
    throw std::runtime_error(fmt::format(
        "The package's file name {} may only hold letters, digits and . _ - + ~ (and not start with a dot).", name));
  }
  if (!fs::is_regular_file(package)) throw std::runtime_error(fmt::format("There is no package file {}.", package.string()));

  std::vector<UpdateRelease> releases;
  if (const auto existing = feedDocument()) releases = FeedSigner::readDocument(*existing).releases;

  fs::create_directories(packageDirectory());
  release.packageURL = "packages/" + name;
  release = signer.describePackage(package, std::move(release));
  // Copied under a hidden name first: the server never serves a half-copied package.
  const fs::path stored = packageDirectory() / name;
  const fs::path partial = packageDirectory() / ("." + name + ".partial");
  fs::copy_file(package, partial, fs::copy_options::overwrite_existing);
  // copy_file keeps the source's mode; like everything in the data folder, the copy is
  // the server user's alone.
  fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  fs::rename(partial, stored);

  std::erase_if(releases, [&](const UpdateRelease& old) { return old.version == release.version; });
  releases.push_back(release);
  std::stable_sort(releases.begin(), releases.end(), newerFirst);
  writeAtomically(feedFile(), signer.document(std::move(releases), now, kFeedLifetime));
  return release;
}

std::optional<std::string> ReleaseStore::feedDocument() const {
  std::ifstream in(feedFile(), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<fs::path> ReleaseStore::package(std::string_view name) const {
  if (!isPackageName(name)) return std::nullopt;
  const fs::path file = packageDirectory() / name;
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(file, error))) return std::nullopt;
  return file;
}

}  // namespace tolvane::server
