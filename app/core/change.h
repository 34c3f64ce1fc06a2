#pragma once

#include <utility>

namespace tolvane {

// Stores `value` and tells whether it differs from what was there: views re-read a
// property on its change signal, so a signal must mean a real change.
template <typename T, typename U>
bool assignChanged(T& field, U&& value) {
  if (field == value) return false;
  field = std::forward<U>(value);
  return true;
}

}  // namespace tolvane
