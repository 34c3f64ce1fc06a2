#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// A condition on this computer that stops an upload and that waiting does not change:
// an empty or unreadable recording, one that left the vault, an address that is not a
// URL, a server that keeps taking nothing. what() is the sentence the user reads. The
// upload queue parks the recording for the user instead of retrying it on its back-off.
class LocalUploadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tolvane
