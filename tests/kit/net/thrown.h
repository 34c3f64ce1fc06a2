#pragma once

#include <string>

#include "kit/net/http_error.h"
#include "tests/support/thrown.h"

namespace tolvane::testing {

// An HTTPError as "status message [code]", so a table row can state all three at once.
template <class F>
std::string httpFailure(F&& call) {
  try {
    call();
  } catch (const HTTPError& error) {
    return std::to_string(error.status()) + " " + error.message() + (error.code() ? " [" + *error.code() + "]" : "");
  }
  return "no error";
}

}  // namespace tolvane::testing
