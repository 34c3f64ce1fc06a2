// Uploads one file to a tolvane-server with the tus uploader and prints the throughput
// and the peak resident memory of this process. With --print-ticket it only signs in,
// creates an upload ticket and prints it as shell assignments, for the curl baseline of
// run.sh.
//
//   upload_bench --site http://127.0.0.1:8787 --file big.bin [--chunk 8388608]
//   upload_bench --site http://127.0.0.1:8787 --print-ticket

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kit/auth/auth_store.h"
#include "kit/auth/desktop_sign_in.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/config/config.h"
#include "kit/net/curl_http_client.h"
#include "kit/upload/tolvane_api.h"
#include "kit/upload/tus_uploader.h"

using namespace tolvane;

namespace {

double peakRSSMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

// Seconds to read the file in chunks the way the uploader does, without sending: the part
// of each request during which nothing goes on the wire.
double chunkReadSeconds(const std::string& file, std::int64_t chunk) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::vector<char> buffer(static_cast<std::size_t>(chunk));
  const auto start = std::chrono::steady_clock::now();
  off_t offset = 0;
  for (ssize_t n; (n = ::pread(fd, buffer.data(), buffer.size(), offset)) > 0;) offset += n;
  ::close(fd);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int run(int argc, char** argv) {
  std::string site;
  std::string file;
  std::int64_t chunk = TusUploader::defaultChunkSize;
  bool printTicket = false;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--site" && i + 1 < argc) site = argv[++i];
    else if (flag == "--file" && i + 1 < argc) file = argv[++i];
    else if (flag == "--chunk" && i + 1 < argc) chunk = std::stoll(argv[++i]);
    else if (flag == "--print-ticket") printTicket = true;
    else throw std::runtime_error("usage: upload_bench --site URL (--file PATH [--chunk BYTES] | --print-ticket)");
  }
  if (site.empty() || (file.empty() && !printTicket)) throw std::runtime_error("--site and --file are needed");

  const auto siteURL = Url::parse(site);
  if (!siteURL) throw std::runtime_error("--site needs an absolute URL");
  auto http = std::make_shared<CurlHTTPClient>();
  auto auth = std::make_shared<AuthStore>(std::make_shared<MemorySessionStorage>(), http, siteURL->appendingPathComponent("auth/v1"), Config::authAnonKey());
  const DesktopSignIn signIn(http, *siteURL);
  auth->adopt(signIn.waitForApproval(signIn.start("upload benchmark")));
  TolvaneAPI api(auth, http, *siteURL);

  if (printTicket) {
    const UploadTicket ticket = api.createUploadTicket("curl baseline");
    fmt::print("TICKET_UID='{}'\nTICKET_LIBRARY='{}'\nTICKET_SIGNATURE='{}'\nTICKET_EXPIRE='{}'\nTICKET_ENDPOINT='{}'\n",
               ticket.uid, ticket.libraryId, ticket.signature, ticket.expire, ticket.endpoint);
    return 0;
  }

  const UploadTicket ticket = api.createUploadTicket("tolvane benchmark");
  TusUploader uploader(makeUploadSession(), chunk);
  std::chrono::steady_clock::time_point firstByte;
  const auto outcome = uploader.upload(
      file, "tolvane benchmark", [&] { return ticket; }, std::nullopt, {},
      [&](const TusUploader::Progress& progress) {
        if (progress.uploadedBytes == 0) firstByte = std::chrono::steady_clock::now();
      });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - firstByte).count();
  const double mib = double(outcome.bytesSent) / (1024.0 * 1024.0);
  const double peak = peakRSSMiB();
  fmt::print("tolvane_seconds={:.3f}\ntolvane_mib_per_s={:.1f}\ntolvane_peak_rss_mib={:.1f}\ntolvane_read_seconds={:.3f}\n",
             seconds, mib / seconds, peak, chunkReadSeconds(file, chunk));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "upload_bench: %s\n", error.what());
    return 1;
  }
}
