#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// A vault operation that could not be done; what() is the complete sentence for the user.
class VaultError : public std::runtime_error {
 public:
  explicit VaultError(const std::string& sentence) : std::runtime_error(sentence) {}
};

}  // namespace tolvane
