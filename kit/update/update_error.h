#pragma once

#include <stdexcept>

namespace tolvane {

// A failure of the update machinery: a key that cannot be read, a feed or package that
// does not check out. what() is one complete sentence, fit for the "updater" log and for
// the user.
struct UpdateError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace tolvane
