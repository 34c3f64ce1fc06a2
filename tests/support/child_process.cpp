#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tolvane::testing {
namespace {

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv,
            int stdoutFd, int stderrFd) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (const std::string entry(*e); !extraEnv.contains(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : extraEnv) envStrings.push_back(k + "=" + v);
  std::vector<char*> env;
  for (auto& s : envStrings) env.push_back(s.data());
  env.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    if (stdoutFd >= 0) dup2(stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0) dup2(stderrFd, STDERR_FILENO);
    if (const int devnull = open("/dev/null", O_RDONLY); devnull >= 0) dup2(devnull, STDIN_FILENO);
    execvpe(args[0], args.data(), env.data());
    _exit(127);
  }
  return pid;
}

sockaddr_in loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return addr;
}

std::string readAll(int fd) {
  std::string text;
  std::array<char, 4096> buffer{};
  for (ssize_t n = 0; (n = read(fd, buffer.data(), buffer.size())) > 0;) text.append(buffer.data(), static_cast<std::size_t>(n));
  close(fd);
  return text;
}

int decodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> extraEnv,
                           std::optional<std::filesystem::path> logFile) {
  const int fd = logFile ? open(logFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  pid_ = spawn(argv, extraEnv, fd, fd);
  if (fd >= 0) close(fd);
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::isRunning() {
  if (status_) return false;
  int raw = 0;
  const pid_t r = waitpid(pid_, &raw, WNOHANG);
  if (r == pid_) status_ = decodeStatus(raw);
  return r == 0;
}

void ChildProcess::kill(int signal) {
  if (isRunning()) ::kill(pid_, signal);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (isRunning()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

void ChildProcess::stop() {
  if (pid_ <= 0 || !isRunning()) return;
  ::kill(pid_, SIGTERM);
  if (!wait(std::chrono::seconds(2))) {
    ::kill(pid_, SIGKILL);
    wait(std::chrono::seconds(5));
  }
}

std::filesystem::path builtProgram(const std::string& relativePath) {
  const char* dir = std::getenv("TOLVANE_BUILD_DIR");
  if (dir == nullptr) throw std::runtime_error("TOLVANE_BUILD_DIR is not set; run the tests through ctest");
  return std::filesystem::path(dir) / relativePath;
}

int freeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool waitForPort(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // stderr goes to an unlinked temporary file so that neither stream can block the other.
  char errPath[] = "/tmp/tolvane-stderr-XXXXXX";
  const int errFd = mkstemp(errPath);
  if (errFd < 0) throw std::runtime_error("mkstemp failed");
  unlink(errPath);
  const pid_t pid = spawn(argv, extraEnv, fds[1], errFd);
  close(fds[1]);
  CommandResult result;
  result.out = readAll(fds[0]);
  int raw = 0;
  waitpid(pid, &raw, 0);
  result.status = decodeStatus(raw);
  lseek(errFd, 0, SEEK_SET);
  result.err = readAll(errFd);
  return result;
}

}  // namespace tolvane::testing
