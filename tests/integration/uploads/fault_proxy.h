#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::testing {

// A TCP proxy on 127.0.0.1 in front of a loopback server that injects faults:
// it cuts connections in the middle of large request bodies, and answers requests
// itself with a canned response. Each connection is served by its own thread.
class FaultProxy {
 public:
  explicit FaultProxy(int targetPort);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  int port() const { return port_; }

  // The next `count` times that `everyBytes` more bytes went from clients to the server,
  // the connection carrying them is closed at once (both directions), and so is the next
  // connection a client opens: a short outage, which libcurl cannot hide by silently
  // sending the request again on a fresh connection.
  void cutConnections(int count, std::int64_t everyBytes);
  int cutsLeft() const { return cutsLeft_; }
  // The next `count` new requests whose first line starts with `requestPrefix`
  // ("POST /api/stream/upload-url") are answered with `response` (a whole HTTP message)
  // and their connection closed, without reaching the server.
  void answerNext(int count, std::string requestPrefix, std::string response);

 private:
  void acceptLoop();
  void serve(int client);

  int targetPort_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;

  std::mutex mutex_;
  std::vector<std::thread> connections_;  // guarded by mutex_
  std::vector<int> openFds_;              // guarded by mutex_
  std::atomic<int> cutsLeft_{0};
  std::int64_t cutEveryBytes_ = 0;   // guarded by mutex_
  std::int64_t bytesSinceCut_ = 0;   // guarded by mutex_
  bool dropNextConnection_ = false;  // guarded by mutex_
  int answersLeft_ = 0;              // guarded by mutex_
  std::string answerPrefix_;         // guarded by mutex_
  std::string answer_;               // guarded by mutex_
};

}  // namespace tolvane::testing
