#pragma once

#include <string>
#include <string_view>

namespace tolvane {

// A new random (version 4) UUID in upper-case canonical form, 36 characters,
// e.g. "1F3A9C2B-7D41-4E0A-9B8C-2D5E6F708192". Uses the system's secure random source.
std::string makeUUID();

// Whether `text` is a UUID in canonical 8-4-4-4-12 form (either case).
bool isCanonicalUUID(std::string_view text);

}  // namespace tolvane
