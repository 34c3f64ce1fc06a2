// Loopback figures for the transport the service API and the tus uploader share:
// a small request on a reused connection, the same with a fresh client (new
// connection) each time, and an 8 MiB chunk upload.
#include <thread>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include "kit/net/curl_http_client.h"

namespace tolvane {
namespace {

class Server {
 public:
  Server() {
    server_.Get("/api/me", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(R"({"email":"a@b.c","pro":true,"lifetime":false,"admin":false})", "application/json");
    });
    server_.Patch("/files/1", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    // Without it, the server's separate header and body writes meet delayed ACKs.
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

Server& server() {
  static Server instance;
  return instance;
}

HTTPRequest request(std::string method, std::string url) {
  HTTPRequest result;
  result.method = std::move(method);
  result.url = std::move(url);
  return result;
}

void SmallRequestReusedConnection(benchmark::State& state) {
  CurlHTTPClient client;
  const auto get = request("GET", server().url("/api/me"));
  for (auto _ : state) benchmark::DoNotOptimize(client.data(get));
}
BENCHMARK(SmallRequestReusedConnection)->Unit(benchmark::kMicrosecond);

void SmallRequestNewConnection(benchmark::State& state) {
  const auto get = request("GET", server().url("/api/me"));
  for (auto _ : state) {
    CurlHTTPClient client;
    benchmark::DoNotOptimize(client.data(get));
  }
}
BENCHMARK(SmallRequestNewConnection)->Unit(benchmark::kMicrosecond);

void UploadEightMebibyteChunk(benchmark::State& state) {
  CurlHTTPClient client(HTTPSessionSettings::upload());
  const std::vector<std::byte> chunk(8 * 1024 * 1024, std::byte{0x5a});
  auto patch = request("PATCH", server().url("/files/1"));
  patch.headers = {{"Content-Type", "application/offset+octet-stream"}};
  for (auto _ : state) benchmark::DoNotOptimize(client.upload(patch, chunk));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(chunk.size()));
}
BENCHMARK(UploadEightMebibyteChunk)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvane

BENCHMARK_MAIN();
