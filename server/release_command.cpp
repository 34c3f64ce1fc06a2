#include "server/release_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "kit/base/file_descriptor.h"
#include "kit/base/iso8601.h"
#include "kit/update/ed25519_key.h"
#include "kit/update/feed_signer.h"
#include "server/release_store.h"
#include "server/server_options.h"

extern char** environ;

namespace tolvane::server {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: tolvane-server release keygen --out DIR\n"
    "       tolvane-server release publish PACKAGE --notes FILE --key KEYFILE [--data DIR]\n"
    "                                      [--minimum-os TEXT] [--version V]\n";
constexpr const char* kDefaultMinimumOS = "debian 12";

std::string readText(const fs::path& file, const char* what) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error(fmt::format("Couldn't read the {} {}.", what, file.string()));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A new file with exactly this mode, refused when something is already there: a key
// pair is never overwritten by accident.
void writeNewFile(const fs::path& file, const std::string& contents, mode_t mode) {
  const FileDescriptor descriptor(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!descriptor.isOpen()) {
    throw std::runtime_error(errno == EEXIST ? fmt::format("{} already exists; nothing was written.", file.string())
                                             : fmt::format("Couldn't create {}.", file.string()));
  }
  if (::fchmod(descriptor.get(), mode) != 0 || !descriptor.writeAll(contents)) {
    throw std::runtime_error(fmt::format("Couldn't write {}.", file.string()));
  }
}

// The Version field of a .deb's control file, as dpkg-deb reads it.
std::string debVersion(const fs::path& package) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("Couldn't run dpkg-deb.");
  FileDescriptor readEnd(pipeEnds[0]);
  FileDescriptor writeEnd(pipeEnds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string file = package.string();
  std::vector<char*> argv = {const_cast<char*>("dpkg-deb"), const_cast<char*>("-f"), file.data(),
                             const_cast<char*>("Version"), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, "dpkg-deb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawned != 0) throw std::runtime_error("Couldn't run dpkg-deb to read the package's version; pass --version.");
  std::string output;
  char buffer[4096];
  for (ssize_t got; (got = ::read(readEnd.get(), buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(buffer, std::size_t(got));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r' || output.back() == ' ')) output.pop_back();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty()) {
    throw std::runtime_error(fmt::format("{} isn't a Debian package with a version; pass --version.", package.string()));
  }
  return output;
}

int keygen(const std::map<std::string, std::string>& flags, std::FILE* out) {
  const auto folder = flags.find("--out");
  if (folder == flags.end()) throw std::invalid_argument("keygen needs --out DIR.");
  const fs::path directory = folder->second;
  fs::create_directories(directory);
  const auto pair = Ed25519Key::generateKeyPair();
  const fs::path privateFile = directory / "update-signing.key";
  const fs::path publicFile = directory / "update-signing.key.pub";
  if (fs::exists(publicFile)) throw std::runtime_error(fmt::format("{} already exists; nothing was written.", publicFile.string()));
  writeNewFile(privateFile, pair.privateKeyBase64 + "\n", 0600);
  writeNewFile(publicFile, pair.publicKeyBase64 + "\n", 0644);
  std::fprintf(out,
               "Wrote %s (keep it secret) and %s.\n"
               "Build the desktop app with the public key in data/update-signing-key.pub to trust this feed.\n",
               privateFile.c_str(), publicFile.c_str());
  return 0;
}

int publish(const std::string& packageArgument, const std::map<std::string, std::string>& flags, std::FILE* out) {
  for (const char* required : {"--notes", "--key"}) {
    if (!flags.contains(required)) throw std::invalid_argument(fmt::format("publish needs {}.", required));
  }
  const fs::path package = packageArgument;
  // Read everything that can fail before anything is written.
  const FeedSigner signer = FeedSigner::fromKeyFile(flags.at("--key"));
  const std::string notes = readText(flags.at("--notes"), "release notes");
  const std::string version = flags.contains("--version") ? flags.at("--version") : debVersion(package);
  std::vector<std::string> dataFlag;
  if (flags.contains("--data")) dataFlag = {"--data", flags.at("--data")};
  const ServerOptions options = ServerOptions::parse(dataFlag);

  // The data folder and everything in it belong to the server's user alone.
  ::umask(077);
  fs::create_directories(options.dataDirectory);
  fs::permissions(options.dataDirectory, fs::perms::owner_all, fs::perm_options::replace);
  const auto now = std::chrono::system_clock::now();
  UpdateRelease release;
  release.version = version;
  release.minimumOS = flags.contains("--minimum-os") ? flags.at("--minimum-os") : kDefaultMinimumOS;
  release.notes = notes;
  release.publishedAt = formatISO8601(now);
  const ReleaseStore store(options.dataDirectory);
  const UpdateRelease listed = store.publish(package, std::move(release), signer, now);
  std::fprintf(out, "Published %s (%lld bytes) as %s; the feed at %s is valid until %s.\n", listed.version.c_str(),
               static_cast<long long>(listed.size), listed.packageURL.c_str(), store.feedFile().c_str(),
               formatISO8601(now + ReleaseStore::kFeedLifetime).c_str());
  return 0;
}

}  // namespace

int ReleaseCommand::run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  std::vector<std::string> words;
  std::map<std::string, std::string> flags;
  bool usageError = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.starts_with("--")) {
      const bool known = argument == "--out" || argument == "--notes" || argument == "--key" || argument == "--data" ||
                         argument == "--minimum-os" || argument == "--version";
      if (!known || i + 1 >= arguments.size()) {
        usageError = true;
        break;
      }
      flags[argument] = arguments[++i];
    } else {
      words.push_back(argument);
    }
  }
  const std::string action = words.empty() ? "" : words[0];
  if (usageError || !((action == "keygen" && words.size() == 1) || (action == "publish" && words.size() == 2))) {
    std::fputs(kUsage, err);
    return 2;
  }
  try {
    return action == "keygen" ? keygen(flags, out) : publish(words[1], flags, out);
  } catch (const std::invalid_argument& failure) {
    std::fprintf(err, "tolvane-server: %s\n%s", failure.what(), kUsage);
    return 2;
  } catch (const std::exception& failure) {
    std::fprintf(err, "tolvane-server: %s\n", failure.what());
    return 1;
  }
}

}  // namespace tolvane::server
