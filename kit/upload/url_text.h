#pragma once

#include <string>
#include <string_view>

namespace tolvane {

// True when libcurl's URL parser accepts `text` as an absolute URL with a scheme and a
// host (spaces and other characters that need percent-encoding are refused).
bool isValidURL(std::string_view text);

// `base` with one path component appended: a leading "/" of `component` is dropped and
// exactly one "/" separates the two, so "/library" and "library" give the same URL.
std::string appendingPathComponent(std::string_view base, std::string_view component);

}  // namespace tolvane
