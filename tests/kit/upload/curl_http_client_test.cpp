#include "kit/upload/curl_http_client.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "kit/base/errors.h"
#include "kit/base/memory_log_sink.h"
#include "kit/upload/transport_error.h"
#include "tests/support/child_process.h"

namespace tolvane {
namespace {

// A cpp-httplib server on 127.0.0.1 for the life of a test.
class LoopbackServer {
 public:
  explicit LoopbackServer(int port = 0) {
    // Stopping waits for idle keep-alive connections; keep that short.
    server_.set_keep_alive_timeout(1);
    port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1") : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
  }
  ~LoopbackServer() { stop(); }

  httplib::Server& server() { return server_; }
  void start() {
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
};

// Holds a handler until the test lets it go, and tells the test it has arrived.
class Gate {
 public:
  void arriveAndWait() {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void waitForArrival() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return arrived_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

HTTPRequest makeRequest(std::string method, std::string url) {
  HTTPRequest request;
  request.method = std::move(method);
  request.url = std::move(url);
  return request;
}

std::span<const std::byte> bytesOf(const std::string& text) { return std::as_bytes(std::span(text)); }

TEST(CurlHTTPClient, SendsExactlyTheRequestOrBufferAndReturnsTheAnswer) {
  LoopbackServer loopback;
  httplib::Request seen;
  loopback.server().Post("/api/echo", [&](const httplib::Request& request, httplib::Response& response) {
    seen = request;
    response.status = 201;
    response.set_header("Upload-Offset", "42");
    response.set_content(R"({"ok":true})", "application/json");
  });
  loopback.server().Patch("/files/1", [&](const httplib::Request& request, httplib::Response& response) {
    seen = request;
    response.status = 204;
  });
  loopback.start();

  CurlHTTPClient client;
  HTTPRequest request = makeRequest("POST", loopback.url("/api/echo"));
  request.headers = {{"Authorization", "Bearer abc"}, {"Content-Type", "application/json"}};
  request.body = R"({"name":"Demo"})";
  const HTTPResponse response = client.data(request);

  EXPECT_EQ(response.status, 201);
  EXPECT_EQ(response.body, R"({"ok":true})");
  EXPECT_EQ(response.header("upload-offset"), "42");
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.body, R"({"name":"Demo"})");
  EXPECT_EQ(seen.get_header_value("Authorization"), "Bearer abc");
  EXPECT_EQ(seen.get_header_value("Content-Type"), "application/json");
  EXPECT_FALSE(seen.has_header("Expect"));

  // An upload sends the buffer as the body and reports its progress.
  const std::string chunk(3 * 1024 * 1024 + 17, 'x');
  std::atomic<std::int64_t> lastSent{0};
  std::atomic<std::int64_t> lastTotal{0};
  HTTPRequest patch = makeRequest("PATCH", loopback.url("/files/1"));
  patch.headers = {{"Content-Type", "application/offset+octet-stream"}};
  patch.onUploadProgress = [&](std::int64_t sent, std::int64_t total) {
    lastSent = sent;
    lastTotal = total;
  };
  EXPECT_EQ(client.upload(patch, bytesOf(chunk)).status, 204);
  EXPECT_EQ(seen.method, "PATCH");
  EXPECT_EQ(seen.body, chunk);
  EXPECT_EQ(lastTotal.load(), static_cast<std::int64_t>(chunk.size()));
  EXPECT_EQ(lastSent.load(), static_cast<std::int64_t>(chunk.size()));
}

TEST(CurlHTTPClient, ErrorStatusesAreAnswersRedirectsAreFollowedAndNoContentTypeIsInvented) {
  LoopbackServer loopback;
  httplib::Request seen;
  loopback.server().Get("/missing", [&](const httplib::Request& request, httplib::Response& response) {
    seen = request;
    response.status = 404;
    response.set_content("<html>nope</html>", "text/html");
  });
  loopback.server().Post("/empty", [&](const httplib::Request& request, httplib::Response& response) {
    seen = request;
    response.set_content("fine", "text/plain");
  });
  loopback.server().Get("/old", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/new");
    response.set_header("X-Hop", "first");
  });
  loopback.server().Get("/new", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("arrived", "text/plain");
  });
  loopback.start();

  CurlHTTPClient client;
  const auto missing = client.data(makeRequest("GET", loopback.url("/missing")));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "<html>nope</html>");
  EXPECT_FALSE(seen.has_header("Content-Type"));

  HTTPRequest post = makeRequest("POST", loopback.url("/empty"));
  post.body = "raw bytes";
  EXPECT_EQ(client.data(post).body, "fine");
  EXPECT_FALSE(seen.has_header("Content-Type")) << "no form type may be invented for a body";
  EXPECT_EQ(seen.body, "raw bytes");

  // Without a body, a POST still tells the server there is nothing to wait for.
  EXPECT_EQ(client.data(makeRequest("POST", loopback.url("/empty"))).body, "fine");
  EXPECT_EQ(seen.get_header_value("Content-Length"), "0");
  EXPECT_FALSE(seen.has_header("Content-Type"));

  const auto redirected = client.data(makeRequest("GET", loopback.url("/old")));
  EXPECT_EQ(redirected.status, 200);
  EXPECT_EQ(redirected.body, "arrived");
  EXPECT_FALSE(redirected.header("X-Hop")) << "only the final answer's headers are kept";
}

TEST(CurlHTTPClient, ReusesConnectionsAndServesManyThreadsAtOnce) {
  LoopbackServer loopback;
  std::mutex portsMutex;
  std::multiset<int> remotePorts;
  loopback.server().Get(R"(/n/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
    {
      std::lock_guard lock(portsMutex);
      remotePorts.insert(request.remote_port);
    }
    response.set_content(request.matches[1].str(), "text/plain");
  });
  loopback.start();

  CurlHTTPClient client;
  client.data(makeRequest("GET", loopback.url("/n/1")));
  client.data(makeRequest("GET", loopback.url("/n/2")));
  {
    std::lock_guard lock(portsMutex);
    ASSERT_EQ(remotePorts.size(), 2u);
    EXPECT_EQ(*remotePorts.begin(), *remotePorts.rbegin()) << "the second request should reuse the connection";
  }

  std::atomic<int> mismatches{0};
  std::vector<std::jthread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        const std::string n = std::to_string(t * 100 + i);
        if (client.data(makeRequest("GET", loopback.url("/n/" + n))).body != n) ++mismatches;
      }
    });
  }
  threads.clear();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(CurlHTTPClient, StopTokenAbortsATransferInFlight) {
  LoopbackServer loopback;
  Gate gate;
  loopback.server().Get("/slow", [&](const httplib::Request&, httplib::Response& response) {
    gate.arriveAndWait();
    response.set_content("late", "text/plain");
  });
  loopback.start();

  CurlHTTPClient client;
  std::stop_source stop;
  auto outcome = std::async(std::launch::async, [&] {
    try {
      client.data(makeRequest("GET", loopback.url("/slow")), stop.get_token());
      return std::string("finished");
    } catch (const CancellationError&) {
      return std::string("cancelled");
    }
  });
  gate.waitForArrival();
  stop.request_stop();
  EXPECT_EQ(outcome.get(), "cancelled");
  gate.open();

  std::stop_source already;
  already.request_stop();
  EXPECT_THROW(client.data(makeRequest("GET", loopback.url("/slow")), already.get_token()), CancellationError);
}

TEST(CurlHTTPClient, SilentServersTimeOutAndUnreachableHostsFailAtOnceInTheStandardSession) {
  LoopbackServer loopback;
  Gate gate;
  loopback.server().Get("/silent", [&](const httplib::Request&, httplib::Response&) { gate.arriveAndWait(); });
  loopback.start();

  HTTPRequest silent = makeRequest("GET", loopback.url("/silent"));
  silent.timeoutSec = 1;
  const auto unreachable = makeRequest("GET", "http://127.0.0.1:" + std::to_string(testing::freeLoopbackPort()) + "/");
  const std::tuple<HTTPRequest, TransportError::Kind, std::string> cases[] = {
      {silent, TransportError::Kind::timedOut, "The request timed out."},
      {unreachable, TransportError::Kind::cannotConnect, "Could not connect to the server."}};
  for (const auto& [request, kind, message] : cases) {
    try {
      CurlHTTPClient().data(request);
      ADD_FAILURE() << "expected: " << message;
    } catch (const TransportError& error) {
      EXPECT_EQ(error.kind(), kind);
      EXPECT_EQ(error.what(), message);
    }
  }
  gate.open();
}

TEST(CurlHTTPClient, UploadSessionWaitsForConnectivity) {
  const int port = testing::freeLoopbackPort();
  auto logs = MemoryLogSink::attach();
  CurlHTTPClient client(HTTPSessionSettings{.waitsForConnectivity = true, .requestTimeoutSec = 10,
                                            .resourceTimeoutSec = 120});
  auto outcome = std::async(std::launch::async, [&] {
    return client.data(makeRequest("GET", "http://127.0.0.1:" + std::to_string(port) + "/hello")).body;
  });

  // Bring the server up only once the request has found nobody listening.
  while (logs->messages("http").empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  LoopbackServer loopback(port);
  ASSERT_EQ(loopback.port(), port);
  loopback.server().Get("/hello", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("online again", "text/plain");
  });
  loopback.start();
  EXPECT_EQ(outcome.get(), "online again");
}

TEST(CurlHTTPClient, WaitingForConnectivityEndsWithTheResourceTimeOutOrCancellation) {
  const std::string url = "http://127.0.0.1:" + std::to_string(testing::freeLoopbackPort()) + "/";
  CurlHTTPClient shortLived(
      HTTPSessionSettings{.waitsForConnectivity = true, .requestTimeoutSec = 5, .resourceTimeoutSec = 0.6});
  try {
    shortLived.data(makeRequest("GET", url));
    ADD_FAILURE() << "expected a time-out";
  } catch (const TransportError& error) {
    EXPECT_EQ(error.kind(), TransportError::Kind::timedOut);
  }

  auto logs = MemoryLogSink::attach();
  CurlHTTPClient patient(HTTPSessionSettings::upload());
  std::stop_source stop;
  auto outcome = std::async(std::launch::async, [&] { patient.data(makeRequest("GET", url), stop.get_token()); });
  while (logs->messages("http").empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop.request_stop();
  EXPECT_THROW(outcome.get(), CancellationError);
}

}  // namespace
}  // namespace tolvane
