#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// Thrown where work observes that it was cancelled through its std::stop_token.
class CancellationError : public std::runtime_error {
 public:
  CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

}  // namespace tolvane
