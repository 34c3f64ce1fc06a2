#pragma once

#include <string>

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

}  // namespace tolvane::testing
