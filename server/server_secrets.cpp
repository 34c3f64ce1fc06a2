#include "server/server_secrets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "kit/base/file_descriptor.h"
#include "server/server_crypto.h"

namespace tolvane::server {
namespace {

std::map<std::string, std::string> parse(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(got));
  return text;
}

}  // namespace

ServerSecrets ServerSecrets::loadOrCreate(const std::filesystem::path& file) {
  FileDescriptor existing(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!existing.isOpen() && errno == ENOENT) {
    ServerSecrets made{crypto::randomHex(32), crypto::randomHex(32), crypto::randomHex(32)};
    // O_EXCL: two servers starting at once on one folder never overwrite each other's keys.
    FileDescriptor created(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (created.isOpen()) {
      const std::string text = fmt::format("jwt={}\nupload={}\ncsrf={}\n", made.jwt, made.upload, made.csrf);
      if (!created.writeAll({text.data(), text.size()}) || ::fsync(created.get()) != 0) {
        throw std::runtime_error(fmt::format("Couldn't write the key file {}: {}.", file.string(), std::strerror(errno)));
      }
      return made;
    }
    if (errno != EEXIST) {
      throw std::runtime_error(fmt::format("Couldn't create the key file {}: {}.", file.string(), std::strerror(errno)));
    }
    existing = FileDescriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  }
  if (!existing.isOpen()) {
    throw std::runtime_error(fmt::format("Couldn't read the key file {}: {}.", file.string(), std::strerror(errno)));
  }
  ::fchmod(existing.get(), 0600);
  auto values = parse(readAll(existing.get()));
  ServerSecrets secrets{values["jwt"], values["upload"], values["csrf"]};
  if (secrets.jwt.size() < 32 || secrets.upload.size() < 32 || secrets.csrf.size() < 32) {
    throw std::runtime_error(fmt::format("The key file {} is damaged; move it away to make new keys (everyone will "
                                         "have to sign in again).",
                                         file.string()));
  }
  return secrets;
}

}  // namespace tolvane::server
