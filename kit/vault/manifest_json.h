#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kit/vault/recording_manifest.h"

namespace tolvane {

// The JSON form of a manifest, shared by the vault, the upload queue and the CLI.
//
// Written: one object, keys in byte order, pretty-printed with two-space indentation;
// dates as ISO 8601 UTC with whole seconds ("2026-03-05T14:07:09Z"); optional members
// that hold nothing are left out (never null); integers as JSON integers.
//
// Read strictly: every required key present with its JSON type (integers must be
// integers, Booleans true/false), "state" one of the seven raw strings, dates in
// exactly the written form (a fraction of a second is refused). An optional key may be
// absent or null but, when present, must have its type. Unknown keys are ignored.
// `schemaVersion` is taken as it stands. Anything else makes the manifest unreadable.
// `fileName` must be a plain file name: one with a slash, or "." or "..", is damage.

// Pretty-printed JSON text, without a trailing newline. Text that is not valid UTF-8 is
// written with U+FFFD in place of the bad bytes, so encoding never fails.
std::string encodeManifest(const RecordingManifest& manifest);

// None when `text` is not a readable manifest (see above); never throws. Read with a
// streaming parser straight into the record (manifest_decoder.cpp): the vault scan
// decodes every manifest at launch.
std::optional<RecordingManifest> decodeManifest(std::string_view text);

}  // namespace tolvane
