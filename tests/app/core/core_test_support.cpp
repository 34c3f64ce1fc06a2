#include "tests/app/core/core_test_support.h"

#include <QThread>
#include <QThreadPool>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace tolvane::testing {
namespace {

// Whether a thread of a Qt pool is still in this process (Qt names them so).
bool poolThreadsRemain() {
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");  // gone when the thread has just ended
    std::string name;
    if (std::getline(comm, name) && name == "Thread (pooled)") return true;
  }
  return false;
}

// Ends the worker threads of Qt's global pool once the last test has run, before the
// program's exit handlers. OpenSSL's exit handler frees the calling thread's state and
// forgets the rest: a pool thread still alive then keeps its random generators for
// good, and the leak check reports them. A thread frees its own as it ends, which is
// after waitForDone() has seen its last task finish, so the threads themselves are
// waited for too (the deadline only guards against a hang).
class EndPoolThreads final : public ::testing::Environment {
 public:
  void TearDown() override {
    QThreadPool::globalInstance()->waitForDone();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (poolThreadsRemain() && std::chrono::steady_clock::now() < until) QThread::msleep(1);
  }
};

[[maybe_unused]] ::testing::Environment* const endPoolThreads = ::testing::AddGlobalTestEnvironment(new EndPoolThreads);

}  // namespace

QCoreApplication& application() {
  static int argc = 1;
  static char name[] = "core_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  application();
  return runEventsUntil(done, deadline);
}

}  // namespace tolvane::testing
