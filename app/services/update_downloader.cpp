#include "app/services/update_downloader.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "kit/base/errors.h"
#include "kit/base/log.h"
#include "kit/update/update_error.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"updater"};
  return logger;
}

bool isPackageVersion(std::string_view version) {
  if (version.empty() || version.size() > 64) return false;
  for (const char c : version) {
    const bool allowed = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                         c == '+' || c == '~' || c == '-';
    if (!allowed) return false;
  }
  return version.front() != '.' && version.front() != '-';
}

void removeQuietly(const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

}  // namespace

UpdateDownloader::UpdateDownloader(std::shared_ptr<HTTPPerforming> http,
                                   std::shared_ptr<const UpdateFeedVerifier> verifier, std::filesystem::path directory)
    : http_(std::move(http)), verifier_(std::move(verifier)), directory_(std::move(directory)) {}

std::filesystem::path UpdateDownloader::defaultDirectory() {
  std::filesystem::path cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    cache = std::filesystem::path(home) / ".cache";
  } else {
    cache = std::filesystem::temp_directory_path();
  }
  return cache / "tolvane" / "updates";
}

std::filesystem::path UpdateDownloader::packagePath(const UpdateRelease& release) const {
  if (!isPackageVersion(release.version)) {
    throw UpdateError("The update's version \"" + release.version + "\" is not a package version.");
  }
  return directory_ / ("tolvane_" + release.version + ".deb");
}

bool UpdateDownloader::keptCopyVerifies(const std::filesystem::path& file, const UpdateRelease& release) const {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return false;
  try {
    verifier_->verifyPackage(file, release);
    return true;
  } catch (const UpdateError& failure) {
    log().warning("the kept download of {} no longer verifies ({}); downloading it again", release.version,
                  failure.what());
    removeQuietly(file);
    return false;
  }
}

std::filesystem::path UpdateDownloader::download(const UpdateRelease& release, const Url& feedURL,
                                                 std::stop_token stop) const {
  const std::filesystem::path file = packagePath(release);
  if (keptCopyVerifies(file, release)) {
    log().info("using the verified download of {} kept from before", release.version);
    return file;
  }
  const auto url = feedURL.resolving(release.packageURL);
  if (!url) throw UpdateError("The update's package address \"" + release.packageURL + "\" is not a valid URL.");

  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  if (error) throw UpdateError("Couldn't create the download folder " + directory_.string() + ": " + error.message() + ".");

  log().info("downloading {} from {}", release.version, url->text());
  HTTPRequest request;
  request.url = url->text();
  // Written to disk as it arrives: a package never sits in memory whole.
  const std::filesystem::path partial = directory_ / ("." + file.filename().string() + ".partial");
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  std::int64_t written = 0;
  const HTTPPerforming::BodyWriter write = [&](std::int64_t offset, std::string_view bytes) {
    // A request sent anew starts the body over.
    if (offset != written) {
      out.seekp(offset);
      written = offset;
    }
    // The feed said how big the package is; a server sending more is not sending it.
    if (written + std::int64_t(bytes.size()) > release.size) {
      throw UpdateError("The download is larger than the update's " + std::to_string(release.size) + " bytes.");
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw UpdateError("Couldn't save the update to " + directory_.string() + ".");
    written += std::int64_t(bytes.size());
  };
  HTTPResponse response;
  try {
    response = http_->download(request, write, stop);
    out.close();
  } catch (...) {
    out.close();
    removeQuietly(partial);
    throw;
  }
  if (stop.stop_requested()) {
    removeQuietly(partial);
    throw CancellationError();
  }
  if (response.status != 200) {
    removeQuietly(partial);
    throw UpdateError("Couldn't download the update (the server answered " + std::to_string(response.status) + ").");
  }
  if (!out) {
    removeQuietly(partial);
    throw UpdateError("Couldn't save the update to " + directory_.string() + ".");
  }
  // Checked before it takes the package's name, so that name only ever holds a verified file.
  try {
    verifier_->verifyPackage(partial, release);
  } catch (const UpdateError& failure) {
    removeQuietly(partial);
    throw UpdateError(std::string("The downloaded update was deleted: ") + failure.what());
  }
  std::filesystem::rename(partial, file, error);
  if (error) {
    removeQuietly(partial);
    throw UpdateError("Couldn't save the update to " + directory_.string() + ": " + error.message() + ".");
  }
  log().info("downloaded and verified {} ({} bytes)", release.version, written);
  return file;
}

void UpdateDownloader::discardAll() const {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
    const std::string name = entry.path().filename().string();
    const bool ours = name.starts_with("tolvane_") || name.starts_with(".tolvane_");
    if (ours && (name.ends_with(".deb") || name.ends_with(".partial"))) removeQuietly(entry.path());
  }
}

}  // namespace tolvane
