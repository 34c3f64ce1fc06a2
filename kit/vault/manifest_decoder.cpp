// decodeManifest: the reading half of manifest_json.h, on the scan's hot path. It reads
// the text with a streaming (SAX) parser straight into the record, without building a
// JSON tree first.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

#include "kit/vault/manifest_json.h"

namespace tolvane {
namespace {

using nlohmann::json;

// The manifest's keys in byte order, so that a key is found by binary search.
enum Field : int {
  attemptCount, createdAt, durationSec, fileName, fileSizeBytes, hasCamera, hasMicrophone, hasSystemAudio,
  holdUploadUntil, id, lastError, nextAttemptAt, notice, recoveredFromInterruption, schemaVersion, shareURL, state,
  title, tusUploadURL, updatedAt, uploadUID, uploadedBytes, fieldCount, unknownField = fieldCount
};
constexpr std::array<std::string_view, fieldCount> kFieldNames = {
    "attemptCount", "createdAt", "durationSec", "fileName", "fileSizeBytes", "hasCamera", "hasMicrophone",
    "hasSystemAudio", "holdUploadUntil", "id", "lastError", "nextAttemptAt", "notice", "recoveredFromInterruption",
    "schemaVersion", "shareURL", "state", "title", "tusUploadURL", "updatedAt", "uploadUID", "uploadedBytes"};
static_assert(std::is_sorted(kFieldNames.begin(), kFieldNames.end()));

constexpr std::uint32_t bit(Field f) { return std::uint32_t{1} << f; }
constexpr std::uint32_t kOptionalFields = bit(uploadUID) | bit(tusUploadURL) | bit(shareURL) | bit(lastError) |
                                          bit(notice) | bit(nextAttemptAt) | bit(holdUploadUntil);
constexpr std::uint32_t kRequiredFields = ((std::uint32_t{1} << fieldCount) - 1) & ~kOptionalFields;

bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

Field fieldNamed(std::string_view name) {
  const auto it = std::lower_bound(kFieldNames.begin(), kFieldNames.end(), name);
  if (it == kFieldNames.end() || *it != name) return unknownField;
  return static_cast<Field>(it - kFieldNames.begin());
}

class ManifestReader final : public nlohmann::json_sax<json> {
 public:
  explicit ManifestReader(RecordingManifest& out) : m_(out) {}

  bool complete() const { return (seen_ & kRequiredFields) == kRequiredFields; }

  bool null() override {
    if (!atField()) return true;
    if ((bit(field_) & kOptionalFields) == 0) return false;
    switch (field_) {
      case uploadUID: m_.uploadUID.reset(); break;
      case tusUploadURL: m_.tusUploadURL.reset(); break;
      case shareURL: m_.shareURL.reset(); break;
      case lastError: m_.lastError.reset(); break;
      case notice: m_.notice.reset(); break;
      case nextAttemptAt: m_.nextAttemptAt.reset(); break;
      default: m_.holdUploadUntil.reset(); break;
    }
    return accept();
  }

  bool boolean(bool value) override {
    if (!atField()) return true;
    switch (field_) {
      case hasCamera: m_.hasCamera = value; break;
      case hasMicrophone: m_.hasMicrophone = value; break;
      case hasSystemAudio: m_.hasSystemAudio = value; break;
      case recoveredFromInterruption: m_.recoveredFromInterruption = value; break;
      default: return false;
    }
    return accept();
  }

  bool number_integer(number_integer_t value) override {
    if (!atField()) return true;
    switch (field_) {
      case fileSizeBytes: m_.fileSizeBytes = value; break;
      case uploadedBytes: m_.uploadedBytes = value; break;
      case schemaVersion: if (!fitsInt(value)) return false; m_.schemaVersion = static_cast<int>(value); break;
      case attemptCount: if (!fitsInt(value)) return false; m_.attemptCount = static_cast<int>(value); break;
      case durationSec: m_.durationSec = static_cast<double>(value); break;
      default: return false;
    }
    return accept();
  }

  bool number_unsigned(number_unsigned_t value) override {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      if (!atField()) return true;
      if (field_ != durationSec) return false;
      m_.durationSec = static_cast<double>(value);
      return accept();
    }
    return number_integer(static_cast<std::int64_t>(value));
  }

  bool number_float(number_float_t value, const string_t&) override {
    if (!atField()) return true;
    if (field_ != durationSec) return false;
    m_.durationSec = value;
    return accept();
  }

  bool string(string_t& value) override {
    if (!atField()) return true;
    switch (field_) {
      case id: m_.id = std::move(value); break;
      case title: m_.title = std::move(value); break;
      case fileName:
        // The movie is a file inside the recording's folder: a path (absolute, with
        // "..", or with any slash) would make the vault act on something outside it.
        if (!isPlainFileName(value)) return false;
        m_.fileName = std::move(value);
        break;
      case uploadUID: m_.uploadUID = std::move(value); break;
      case tusUploadURL: m_.tusUploadURL = std::move(value); break;
      case shareURL: m_.shareURL = std::move(value); break;
      case lastError: m_.lastError = std::move(value); break;
      case notice: m_.notice = std::move(value); break;
      case createdAt: return date(value, m_.createdAt);
      case updatedAt: return date(value, m_.updatedAt);
      case nextAttemptAt: return date(value, m_.nextAttemptAt.emplace());
      case holdUploadUntil: return date(value, m_.holdUploadUntil.emplace());
      case state: {
        auto parsed = recordingStateFromRawValue(value);
        if (!parsed) return false;
        m_.state = *parsed;
        break;
      }
      default: return false;
    }
    return accept();
  }

  bool binary(binary_t&) override { return false; }

  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    if (depth_ == 1) field_ = fieldNamed(name);
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  // A value of a known member of the top-level object; values inside unknown members
  // (at any depth) are skipped.
  bool atField() const { return depth_ == 1 && field_ != unknownField; }

  bool accept() {
    seen_ |= bit(field_);
    return true;
  }

  bool date(const std::string& text, Date& out) {
    auto parsed = parseISO8601(text);
    if (!parsed) return false;
    out = *parsed;
    return accept();
  }

  bool open(bool isObject) {
    if (depth_ == 0 && !isObject) return false;  // the manifest is an object
    if (atField()) return false;                 // no member of ours holds a container
    if (depth_ == 1) field_ = unknownField;
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    if (depth_ == 1) field_ = unknownField;
    return true;
  }

  static bool fitsInt(std::int64_t value) {
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
  }

  RecordingManifest& m_;
  int depth_ = 0;
  Field field_ = unknownField;
  std::uint32_t seen_ = 0;
};

}  // namespace

std::optional<RecordingManifest> decodeManifest(std::string_view text) {
  RecordingManifest manifest;
  ManifestReader reader(manifest);
  // A top-level scalar never reaches start_object: treat it as unreadable.
  if (!json::sax_parse(text.begin(), text.end(), &reader, json::input_format_t::json, /*strict=*/true)) {
    return std::nullopt;
  }
  if (!reader.complete()) return std::nullopt;
  return manifest;
}

}  // namespace tolvane
