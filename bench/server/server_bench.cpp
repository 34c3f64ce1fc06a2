// Throughput of tolvane-server as the app meets it: tus PATCH chunks of 8 MiB streamed
// to disk, and small authenticated API requests. The server runs in this process on a
// loopback port, with its data in a temporary directory.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "server/server_crypto.h"
#include "server/server_options.h"
#include "server/tolvane_server.h"

namespace {

using tolvane::server::ServerOptions;
using tolvane::server::TolvaneServer;

constexpr int kPort = 18931;

class BenchServer {
 public:
  BenchServer() : directory_(std::filesystem::temp_directory_path() / ("tolvane-bench-" + tolvane::server::crypto::randomHex(6))) {
    auto options = ServerOptions::parse({"--listen", "127.0.0.1:" + std::to_string(kPort), "--data", directory_.string(),
                                         "--auto-approve", "bench@example.com"});
    server_ = std::make_unique<TolvaneServer>(options);
    thread_ = std::thread([this] { server_->run(); });
    httplib::Client probe("127.0.0.1", kPort);
    while (!probe.Get("/api/linux/latest")) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    accessToken_ = signIn();
  }
  ~BenchServer() {
    server_->stop();
    thread_.join();
    std::filesystem::remove_all(directory_);
  }

  const std::string& accessToken() const { return accessToken_; }

 private:
  static std::string signIn() {
    httplib::Client http("127.0.0.1", kPort);
    const std::string verifier = tolvane::server::crypto::randomHex(32);
    const auto started = nlohmann::json::parse(
        http.Post("/api/desktop/start",
                  nlohmann::json{{"deviceName", "bench"}, {"codeChallenge", tolvane::server::crypto::sha256Hex(verifier)}}.dump(),
                  "application/json")
            ->body);
    const auto ready = nlohmann::json::parse(
        http.Post("/api/desktop/token", nlohmann::json{{"requestId", started["requestId"]}, {"codeVerifier", verifier}}.dump(),
                  "application/json")
            ->body);
    return ready["accessToken"];
  }

  std::filesystem::path directory_;
  std::unique_ptr<TolvaneServer> server_;
  std::thread thread_;
  std::string accessToken_;
};

BenchServer& benchServer() {
  static BenchServer server;
  return server;
}

httplib::Headers bearer() { return {{"Authorization", "Bearer " + benchServer().accessToken()}}; }

void BM_TusPatch8MiB(benchmark::State& state) {
  httplib::Client http("127.0.0.1", kPort);
  const std::string chunk(8 << 20, 'x');
  constexpr int kChunksPerUpload = 16;
  const auto ticket = nlohmann::json::parse(
      http.Post("/api/stream/upload-url", bearer(), R"({"name":"bench"})", "application/json")->body);
  httplib::Headers tus{{"Tus-Resumable", "1.0.0"},
                       {"AuthorizationSignature", ticket["signature"]},
                       {"AuthorizationExpire", std::to_string(ticket["expire"].get<int64_t>())},
                       {"LibraryId", ticket["libraryId"]},
                       {"VideoId", ticket["uid"]}};
  std::string location;
  int64_t offset = 0;
  for (auto _ : state) {
    if (location.empty() || offset == int64_t(chunk.size()) * kChunksPerUpload) {
      state.PauseTiming();
      auto create = tus;
      create.emplace("Upload-Length", std::to_string(chunk.size() * kChunksPerUpload));
      location = http.Post("/tus/", create, "", "application/offset+octet-stream")->get_header_value("Location");
      offset = 0;
      state.ResumeTiming();
    }
    auto headers = tus;
    headers.emplace("Upload-Offset", std::to_string(offset));
    const auto response = http.Patch(location.c_str(), headers, chunk, "application/offset+octet-stream");
    if (!response || response->status != 204) state.SkipWithError("PATCH failed");
    offset += int64_t(chunk.size());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(chunk.size()));
}
BENCHMARK(BM_TusPatch8MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApiMe(benchmark::State& state) {
  httplib::Client http("127.0.0.1", kPort);
  for (auto _ : state) {
    const auto response = http.Get("/api/me", bearer());
    if (!response || response->status != 200) state.SkipWithError("GET /api/me failed");
  }
}
BENCHMARK(BM_ApiMe)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(8);

void BM_LibraryOf100(benchmark::State& state) {
  httplib::Client http("127.0.0.1", kPort);
  static const bool filled = [&] {
    for (int i = 0; i < 100; ++i) {
      const auto ticket = nlohmann::json::parse(
          http.Post("/api/stream/upload-url", bearer(), R"({"name":"bench"})", "application/json")->body);
      http.Post("/api/recordings", bearer(),
                nlohmann::json{{"uid", ticket["uid"]}, {"title", "Recording " + std::to_string(i)}, {"durationSec", i}}.dump(),
                "application/json");
    }
    return true;
  }();
  (void)filled;
  for (auto _ : state) {
    const auto response = http.Get("/api/recordings?limit=100", bearer());
    if (!response || response->status != 200) state.SkipWithError("GET /api/recordings failed");
  }
}
BENCHMARK(BM_LibraryOf100)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
