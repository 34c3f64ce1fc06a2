#include "kit/update/update_feed.h"

#include <algorithm>

#include <fmt/format.h>

#include "kit/base/iso8601.h"
#include "kit/update/desktop_release.h"
#include "kit/update/mapped_file.h"
#include "kit/update/update_encoding.h"

namespace tolvane {
namespace {

constexpr std::size_t kSignatureBytes = 64;

const nlohmann::json& field(const nlohmann::json& object, const char* key, const char* where) {
  if (!object.is_object() || !object.contains(key)) {
    throw UpdateError(fmt::format("The update feed's {} has no \"{}\".", where, key));
  }
  return object.at(key);
}

std::string stringField(const nlohmann::json& object, const char* key, const char* where) {
  const auto& value = field(object, key, where);
  if (!value.is_string()) throw UpdateError(fmt::format("The update feed's \"{}\" isn't text.", key));
  return value.get<std::string>();
}

std::string dateField(const nlohmann::json& object, const char* key, const char* where) {
  std::string text = stringField(object, key, where);
  if (!parseISO8601(text)) throw UpdateError(fmt::format("The update feed's \"{}\" isn't an ISO 8601 date.", key));
  return text;
}

bool isLowerHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

DesktopRelease versionOnly(const std::string& version) {
  DesktopRelease release;
  release.version = version;
  return release;
}

}  // namespace

std::string UpdateRelease::packageURLRelativeTo(std::string_view feedURL) const {
  if (packageURL.find("://") != std::string::npos) return packageURL;
  const auto schemeEnd = feedURL.find("://");
  if (packageURL.starts_with('/')) {
    const auto hostEnd = schemeEnd == std::string_view::npos ? std::string_view::npos : feedURL.find('/', schemeEnd + 3);
    return std::string(feedURL.substr(0, hostEnd)) + packageURL;
  }
  // Query and fragment of the feed's URL are not part of its folder.
  const std::string_view path = feedURL.substr(0, feedURL.find_first_of("?#"));
  const auto lastSlash = path.rfind('/');
  if (lastSlash == std::string_view::npos || (schemeEnd != std::string_view::npos && lastSlash < schemeEnd + 3)) {
    return std::string(path) + "/" + packageURL;
  }
  return std::string(path.substr(0, lastSlash + 1)) + packageURL;
}

nlohmann::json UpdateRelease::toJSON() const {
  return {{"version", version}, {"minimumOS", minimumOS}, {"packageURL", packageURL}, {"size", size},
          {"sha256", sha256},   {"signature", signature}, {"notes", notes},           {"publishedAt", publishedAt}};
}

UpdateRelease UpdateRelease::fromJSON(const nlohmann::json& object) {
  constexpr const char* where = "release";
  UpdateRelease release{.version = stringField(object, "version", where),
                        .minimumOS = stringField(object, "minimumOS", where),
                        .packageURL = stringField(object, "packageURL", where),
                        .sha256 = stringField(object, "sha256", where),
                        .signature = stringField(object, "signature", where),
                        .notes = stringField(object, "notes", where),
                        .publishedAt = dateField(object, "publishedAt", where)};
  const auto& size = field(object, "size", where);
  if (!size.is_number_integer() || size.get<std::int64_t>() < 0) {
    throw UpdateError("The update feed's \"size\" isn't a byte count.");
  }
  release.size = size.get<std::int64_t>();
  if (release.version.empty() || release.packageURL.empty()) {
    throw UpdateError("The update feed lists a release without a version or package.");
  }
  if (release.sha256.size() != 64 || !isLowerHex(release.sha256)) {
    throw UpdateError(fmt::format("The update feed's SHA-256 of {} isn't 64 hex digits.", release.version));
  }
  const auto signature = update_encoding::base64Decode(release.signature);
  if (!signature || signature->size() != kSignatureBytes) {
    throw UpdateError(fmt::format("The update feed's signature of {} isn't an Ed25519 signature.", release.version));
  }
  return release;
}

std::optional<UpdateRelease> UpdateFeed::newestAfter(std::string_view current) const {
  std::optional<UpdateRelease> newest;
  for (const auto& release : releases) {
    if (!versionOnly(release.version).isNewer(current)) continue;
    if (!newest || versionOnly(release.version).isNewer(newest->version)) newest = release;
  }
  return newest;
}

nlohmann::json UpdateFeed::toJSON() const {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& release : releases) list.push_back(release.toJSON());
  return {{"generatedAt", generatedAt}, {"expiresAt", expiresAt}, {"releases", std::move(list)}};
}

UpdateFeed UpdateFeed::fromJSON(const nlohmann::json& object) {
  constexpr const char* where = "contents";
  if (!object.is_object()) throw UpdateError("The update feed's contents aren't a JSON object.");
  UpdateFeed feed{.generatedAt = dateField(object, "generatedAt", where),
                  .expiresAt = dateField(object, "expiresAt", where),
                  .releases = {}};
  const auto& list = field(object, "releases", where);
  if (!list.is_array()) throw UpdateError("The update feed's \"releases\" isn't a list.");
  for (const auto& entry : list) feed.releases.push_back(UpdateRelease::fromJSON(entry));
  return feed;
}

UpdateFeedVerifier::UpdateFeedVerifier(std::string publicKeyBase64)
    : key_(std::make_shared<const Ed25519Key>(Ed25519Key::fromPublicKey(publicKeyBase64))) {}

UpdateFeed UpdateFeedVerifier::verify(std::string_view document, std::chrono::system_clock::time_point now,
                                      std::string_view notBefore) const {
  const nlohmann::json envelope = nlohmann::json::parse(document, nullptr, false);
  if (envelope.is_discarded() || !envelope.is_object()) throw UpdateError("The update feed isn't JSON.");
  const auto encodedPayload = envelope.find("feed");
  const auto encodedSignature = envelope.find("signature");
  if (encodedPayload == envelope.end() || !encodedPayload->is_string()) {
    throw UpdateError("The update feed has no contents.");
  }
  if (encodedSignature == envelope.end() || !encodedSignature->is_string()) {
    throw UpdateError("The update feed isn't signed.");
  }
  const auto payload = update_encoding::base64Decode(encodedPayload->get<std::string>());
  const auto signature = update_encoding::base64Decode(encodedSignature->get<std::string>());
  if (!payload || !signature) throw UpdateError("The update feed isn't valid base64.");
  // Nothing of the payload is read before its signature checks out.
  if (!key_->verify(*payload, *signature)) throw UpdateError("The update feed's signature doesn't match the update key.");

  const nlohmann::json contents = nlohmann::json::parse(*payload, nullptr, false);
  if (contents.is_discarded()) throw UpdateError("The update feed's contents aren't JSON.");
  UpdateFeed feed = UpdateFeed::fromJSON(contents);
  const auto expiresAt = parseISO8601(feed.expiresAt);
  if (*expiresAt <= now) throw UpdateError(fmt::format("The update feed expired at {}.", feed.expiresAt));
  if (const auto floor = parseISO8601(notBefore); floor && *parseISO8601(feed.generatedAt) < *floor) {
    throw UpdateError(fmt::format("The update feed from {} is older than the one already seen from {}.",
                                  feed.generatedAt, notBefore));
  }
  return feed;
}

void UpdateFeedVerifier::verifyPackage(const std::filesystem::path& file, const UpdateRelease& release) const {
  const MappedFile package(file, "the downloaded package");
  if (package.size() != release.size) {
    throw UpdateError(fmt::format("The downloaded package of {} is {} bytes; the feed says {}.", release.version,
                                  package.size(), release.size));
  }
  if (update_encoding::sha256Hex(package.bytes()) != release.sha256) {
    throw UpdateError(fmt::format("The downloaded package of {} doesn't match the feed's SHA-256.", release.version));
  }
  const auto signature = update_encoding::base64Decode(release.signature);
  if (!signature || !key_->verify(package.bytes(), *signature)) {
    throw UpdateError(fmt::format("The downloaded package of {} isn't signed by the update key.", release.version));
  }
}

}  // namespace tolvane
