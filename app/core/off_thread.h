#pragma once

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>

#include "kit/base/errors.h"

namespace tolvane {

// What a blocking call made on a worker thread came back with: its value, or the
// sentence of what it threw, or that it was cancelled. Exceptions never cross back into
// the model's coroutines as such, so a coroutine reads one result and needs no try block.
template <typename T>
struct Outcome {
  std::optional<T> value;  // set on success
  std::string error;       // what() of the failure
  bool cancelled = false;  // a CancellationError ended it
  bool ok() const { return value.has_value(); }
};

struct Done {};

// Runs `work` on Qt's global thread pool; `co_await` the future in a QCoro task to resume
// on the model's thread. `work` must capture only what it owns (shared pointers,
// values): the model may be gone when it finishes.
//
// Keep the future in a variable and await that (`auto scanning = offThread(…);
// co_await scanning;`): GCC 12 destroys a lambda written inside a co_await expression
// twice, a double release of whatever it captured.
template <typename Work>
auto offThread(Work work) {
  using Result = std::invoke_result_t<Work>;
  using Value = std::conditional_t<std::is_void_v<Result>, Done, Result>;
  return QtConcurrent::run([work = std::move(work)]() mutable {
    Outcome<Value> outcome;
    try {
      if constexpr (std::is_void_v<Result>) {
        work();
        outcome.value = Done{};
      } else {
        outcome.value = work();
      }
    } catch (const CancellationError& error) {
      outcome.cancelled = true;
      outcome.error = error.what();
    } catch (const std::exception& error) {
      outcome.error = error.what();
    }
    return outcome;
  });
}

}  // namespace tolvane
