#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kit/net/http_performing.h"

namespace tolvane::testing {

// A transport that records every request and answers from a script: queued answers
// first, then the fallback handler. Thread-safe, so it can stand behind concurrent
// callers.
class FakeHTTPTransport final : public HTTPPerforming {
  // Runs `step` under the lock (defined first: its return type is deduced).
  template <class F>
  auto locked(F&& step) const {
    std::lock_guard lock(mutex_);
    return step();
  }

 public:
  using Handler = std::function<HTTPResponse(const HTTPRequest&)>;

  void enqueue(std::int64_t status, std::string body) {
    enqueue([status, body](const HTTPRequest&) { return HTTPResponse{status, {}, body}; });
  }
  void enqueue(Handler handler) { locked([&] { queued_.push_back(std::move(handler)); }); }
  void setFallback(Handler handler) { locked([&] { fallback_ = std::move(handler); }); }
  std::vector<HTTPRequest> requests() const { return locked([&] { return requests_; }); }
  HTTPRequest lastRequest() const { return locked([&] { return requests_.back(); }); }
  std::size_t requestCount() const { return locked([&] { return requests_.size(); }); }

  HTTPResponse data(const HTTPRequest& request, std::stop_token = {}) override {
    const Handler handler = locked([&] {
      requests_.push_back(request);
      if (queued_.empty()) return fallback_;
      Handler next = std::move(queued_.front());
      queued_.pop_front();
      return next;
    });
    return handler ? handler(request) : HTTPResponse{599, {}, "no scripted answer"};
  }

  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop = {}) override {
    HTTPRequest withBody = request;
    withBody.body = std::string(reinterpret_cast<const char*>(body.data()), body.size());
    return data(withBody, std::move(stop));
  }

 private:
  mutable std::mutex mutex_;
  std::deque<Handler> queued_;
  Handler fallback_;
  std::vector<HTTPRequest> requests_;
};

}  // namespace tolvane::testing
