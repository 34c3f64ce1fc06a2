#pragma once

#include <string>

#include "kit/net/http_error.h"

namespace tolvane::testing {

// What `call` threw as E, or "no error", so one comparison checks the exact user-facing text.
template <class E, class F>
std::string thrownWhat(F&& call) {
  try {
    call();
  } catch (const E& error) {
    return error.what();
  }
  return "no error";
}

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
