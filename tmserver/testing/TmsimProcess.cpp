#include "TmsimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velt {

std::string DemoDatabasePath() {
  return VELT_DEMO_DATABASE;
}
std::string TmsimPath() {
  return VELT_TMSIM_PATH;
}

namespace {

using Clock = std::chrono::steady_clock;

// Reads the first line the child writes, giving up at the deadline or at end of file.
std::string ReadFirstLine(int fd, Clock::time_point deadline) {
  std::string line;
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  return line.substr(0, line.find('\n'));
}

}  // namespace

TmsimProcess::TmsimProcess(TmsimOptions options, std::string stderrPath)
    : options_(std::move(options)), stderr_path_(std::move(stderrPath)) {
  Start(0);
}

TmsimProcess::~TmsimProcess() {
  Stop();
}

std::string TmsimProcess::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void TmsimProcess::Start(uint16_t port) {
  std::vector<std::string> args = {TmsimPath(), "--listen", "127.0.0.1:" + std::to_string(port),
                                   "--name", options_.name};
  if (!options_.database.empty()) {
    args.push_back("--db");
    args.push_back(options_.database);
  }
  if (options_.latency_ms > 0) {
    args.push_back("--latency");
    args.push_back(std::to_string(options_.latency_ms));
  }
  args.insert(args.end(), options_.extra_args.begin(), options_.extra_args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!options_.tz.empty() && std::strncmp(*e, "TZ=", 3) == 0) continue;
    env.emplace_back(*e);
  }
  if (!options_.tz.empty()) env.push_back("TZ=" + options_.tz);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("tmsim: pipe failed");
  const std::string log = stderr_path_;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    throw std::runtime_error("tmsim: fork failed");
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(out[1], STDOUT_FILENO);
    if (!log.empty()) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd >= 0) dup2(fd, STDERR_FILENO);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  pid_ = pid;
  frozen_ = false;
  const std::string line = ReadFirstLine(out[0], Clock::now() + std::chrono::seconds(10));
  close(out[0]);

  const std::string prefix = "listening on ";
  const size_t colon = line.rfind(':');
  unsigned long parsed = 0;
  if (line.rfind(prefix, 0) == 0 && colon != std::string::npos) {
    parsed = std::strtoul(line.c_str() + colon + 1, nullptr, 10);
  }
  if (parsed == 0 || parsed > 65535) {
    EndWith(SIGKILL);
    throw std::runtime_error("tmsim did not start (first line: \"" + line + "\")");
  }
  port_ = static_cast<uint16_t>(parsed);
}

void TmsimProcess::EndWith(int signal) {
  if (pid_ == 0) return;
  if (frozen_ && signal != SIGKILL) kill(pid_, SIGCONT);
  kill(pid_, signal);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) break;
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = 0;
  frozen_ = false;
}

void TmsimProcess::Stop() {
  EndWith(SIGTERM);
}

void TmsimProcess::Kill() {
  EndWith(SIGKILL);
}

void TmsimProcess::Restart() {
  Stop();
  Start(port_);
}

void TmsimProcess::Freeze() {
  if (pid_ == 0 || kill(pid_, SIGSTOP) != 0) return;
  // Wait until it has really stopped, so that the caller's next request meets a frozen server.
  int status = 0;
  while (waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
  }
  frozen_ = true;
}

void TmsimProcess::Thaw() {
  if (pid_ != 0 && kill(pid_, SIGCONT) == 0) frozen_ = false;
}

}  // namespace velt
