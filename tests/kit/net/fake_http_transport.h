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
 public:
  using Handler = std::function<HTTPResponse(const HTTPRequest&)>;

  void enqueue(std::int64_t status, std::string body) {
    std::lock_guard lock(mutex_);
    queued_.push_back([status, body](const HTTPRequest&) { return HTTPResponse{status, {}, body}; });
  }
  void enqueue(Handler handler) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(handler));
  }
  void setFallback(Handler handler) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(handler);
  }

  std::vector<HTTPRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  HTTPRequest lastRequest() const {
    std::lock_guard lock(mutex_);
    return requests_.back();
  }
  std::size_t requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }

  HTTPResponse data(const HTTPRequest& request, std::stop_token = {}) override {
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      if (!queued_.empty()) {
        handler = std::move(queued_.front());
        queued_.pop_front();
      } else {
        handler = fallback_;
      }
    }
    if (!handler) return HTTPResponse{599, {}, "no scripted answer"};
    return handler(request);
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
