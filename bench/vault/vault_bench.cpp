// How long a full vault scan takes. The vault rescans on every query by design, so
// all() over 1,000 recordings should stay at or below 30 ms (median).
//
//   cmake --preset release && cmake --build --preset release --target vault_bench
//   build/release/bench/vault/vault_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kit/base/uuid.h"
#include "kit/vault/manifest_json.h"
#include "kit/vault/recording_vault.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

// A vault of `count` recordings as the app leaves them: a directory each with its
// manifest, the backup and a (small) movie; every other one far along its upload.
class BenchVault {
 public:
  explicit BenchVault(int count) {
    std::string pattern = (fs::temp_directory_path() / "tolvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    const Date start = *parseISO8601("2026-01-01T09:00:00Z");
    for (int i = 0; i < count; ++i) {
      auto m = RecordingManifest::make(makeUUID(), "Recording — Jan 1, 9:00 AM", start + std::chrono::minutes(i),
                                       RecordingState::verified, "recording.mp4", 93.5, 48'000'000, true, true, false);
      if (i % 2 == 0) {
        m.uploadUID = "vid_" + m.id;
        m.tusUploadURL = "https://upload.tolvane.example/files/" + m.id;
        m.uploadedBytes = m.fileSizeBytes;
        m.shareURL = "https://tolvane.example/s/" + m.id.substr(0, 8);
        m.attemptCount = 1;
      }
      const fs::path folder = root_ / RecordingVault::folderName(m);
      fs::create_directories(folder);
      write(folder / "manifest.json", encodeManifest(m));
      write(folder / "manifest.backup.json", encodeManifest(m));
      write(folder / "recording.mp4", std::string(512, 'm'));
    }
  }
  ~BenchVault() { fs::remove_all(root_); }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

void BM_VaultAll(benchmark::State& state) {
  BenchVault files(static_cast<int>(state.range(0)));
  RecordingVault vault(files.root());
  for (auto _ : state) {
    auto items = vault.all();
    if (items.size() != static_cast<std::size_t>(state.range(0))) state.SkipWithError("wrong item count");
    benchmark::DoNotOptimize(items);
  }
}
BENCHMARK(BM_VaultAll)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

void BM_TotalSizeOnDisk(benchmark::State& state) {
  BenchVault files(static_cast<int>(state.range(0)));
  RecordingVault vault(files.root());
  for (auto _ : state) benchmark::DoNotOptimize(vault.totalSizeOnDisk());
}
BENCHMARK(BM_TotalSizeOnDisk)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_DecodeManifest(benchmark::State& state) {
  auto m = RecordingManifest::make(makeUUID(), "Recording — Jan 1, 9:00 AM", Date::clock::now(),
                                   RecordingState::uploading, "recording.mp4", 93.5, 48'000'000, true, true, false);
  m.tusUploadURL = "https://upload.tolvane.example/files/abc";
  const std::string text = encodeManifest(m);
  for (auto _ : state) benchmark::DoNotOptimize(decodeManifest(text));
}
BENCHMARK(BM_DecodeManifest)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tolvane

BENCHMARK_MAIN();
