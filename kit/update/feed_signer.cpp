#include "kit/update/feed_signer.h"

#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "kit/base/iso8601.h"
#include "kit/update/mapped_file.h"
#include "kit/update/update_encoding.h"

namespace tolvane {

FeedSigner::FeedSigner(std::string_view privateKeyBase64) : key_(Ed25519Key::fromPrivateKey(privateKeyBase64)) {}

FeedSigner FeedSigner::fromKeyFile(const std::filesystem::path& file) {
  std::ifstream stream(file);
  if (!stream) throw UpdateError(fmt::format("Couldn't read the signing key {}.", file.string()));
  std::ostringstream text;
  text << stream.rdbuf();
  try {
    return FeedSigner(text.str());
  } catch (const UpdateError& error) {
    throw UpdateError(fmt::format("{} ({})", error.what(), file.string()));
  }
}

UpdateRelease FeedSigner::describePackage(const std::filesystem::path& package, UpdateRelease release) const {
  const MappedFile bytes(package, "the package");
  release.size = bytes.size();
  release.sha256 = update_encoding::sha256Hex(bytes.bytes());
  release.signature = update_encoding::base64Encode(key_.sign(bytes.bytes()));
  return release;
}

std::string FeedSigner::document(const UpdateFeed& feed) const {
  const std::string payload = feed.toJSON().dump();
  const nlohmann::json envelope = {{"feed", update_encoding::base64Encode(payload)},
                                   {"signature", update_encoding::base64Encode(key_.sign(payload))}};
  return envelope.dump() + "\n";
}

std::string FeedSigner::document(std::vector<UpdateRelease> releases, std::chrono::system_clock::time_point now,
                                 std::chrono::seconds lifetime) const {
  return document(UpdateFeed{
      .generatedAt = formatISO8601(now), .expiresAt = formatISO8601(now + lifetime), .releases = std::move(releases)});
}

UpdateFeed FeedSigner::readDocument(std::string_view document) {
  const nlohmann::json envelope = nlohmann::json::parse(document, nullptr, false);
  const auto payload = envelope.is_object() && envelope.contains("feed") && envelope["feed"].is_string()
                           ? update_encoding::base64Decode(envelope["feed"].get<std::string>())
                           : std::nullopt;
  if (!payload) throw UpdateError("The feed file isn't a feed document.");
  const nlohmann::json contents = nlohmann::json::parse(*payload, nullptr, false);
  if (contents.is_discarded()) throw UpdateError("The feed file's contents aren't JSON.");
  return UpdateFeed::fromJSON(contents);
}

}  // namespace tolvane
