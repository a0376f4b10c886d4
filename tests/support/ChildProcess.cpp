#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Eventually.h"

extern char** environ;

namespace velt::testsupport {

namespace {

using Clock = std::chrono::steady_clock;

int OpenOutput(const std::string& path, bool append) {
  if (path.empty()) return -1;
  return open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ChildProcess::ChildProcess(ChildOptions options) : options_(std::move(options)) {
  if (options_.argv.empty()) return;
  // Everything the child needs is made here: between fork and exec only async-signal-safe calls.
  std::vector<char*> argv;
  for (auto& a : options_.argv) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : options_.environment)
      replaced = replaced || entry.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : options_.environment)
    if (value) env.push_back(name + "=" + *value);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int out = OpenOutput(options_.stdoutFile, options_.appendOutput);
  const int err = options_.stderrFile == options_.stdoutFile
                      ? out
                      : OpenOutput(options_.stderrFile, options_.appendOutput);
  int pipeFds[2] = {-1, -1};
  if (options_.stdoutPipe && pipe2(pipeFds, O_CLOEXEC) != 0) pipeFds[0] = pipeFds[1] = -1;
  const int childOut = pipeFds[1] >= 0 ? pipeFds[1] : out;
  const int deathSignal = options_.deathSignal;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    if (deathSignal != 0) prctl(PR_SET_PDEATHSIG, deathSignal);
    if (getppid() != parent) _exit(127);
    if (childOut >= 0) dup2(childOut, STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (out >= 0) close(out);
  if (err >= 0 && err != out) close(err);
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  stdout_ = pipeFds[0];
  if (pid > 0) {
    pid_ = pid;
  } else {
    CloseStdout();
  }
}

ChildProcess::~ChildProcess() {
  End(options_.endSignal);
  CloseStdout();
}

std::optional<int> ChildProcess::Poll() {
  if (pid_ == 0) return code_;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    code_ = ExitCode(status);
    pid_ = 0;
  } else if (r < 0 && errno == ECHILD) {
    code_ = -1;
    pid_ = 0;
  }
  return code_;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  Eventually([&] { return Poll().has_value(); }, timeout, std::chrono::milliseconds(5));
  return Poll();
}

void ChildProcess::Signal(int signal) {
  if (pid_ != 0) kill(pid_, signal);
}

void ChildProcess::WaitStopped() {
  int status = 0;
  while (pid_ != 0 && waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
  }
}

int ChildProcess::End(int signal, std::chrono::milliseconds grace) {
  if (pid_ == 0) return code_.value_or(-1);
  Signal(signal);
  if (signal == SIGKILL || !Wait(grace)) {
    Signal(SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    code_ = ExitCode(status);
    pid_ = 0;
  }
  return *code_;
}

bool ChildProcess::Read(Clock::time_point deadline) {
  if (stdout_ < 0) return false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{stdout_, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char buf[4096];
    const ssize_t n = read(stdout_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<size_t>(n));
    return true;
  }
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (buffer_.find('\n') == std::string::npos && Read(deadline)) {
  }
  const size_t end = buffer_.find('\n');
  std::string line = buffer_.substr(0, end);
  buffer_.erase(0, end == std::string::npos ? std::string::npos : end + 1);
  return line;
}

std::string ChildProcess::ReadAll(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Read(deadline)) {
  }
  return std::exchange(buffer_, {});
}

void ChildProcess::CloseStdout() {
  if (stdout_ >= 0) close(stdout_);
  stdout_ = -1;
}

CommandOutput RunShell(const std::string& command, std::chrono::milliseconds timeout) {
  ChildOptions options;
  options.argv = {"/bin/sh", "-c", command};
  options.stdoutPipe = true;
  options.endSignal = SIGKILL;
  ChildProcess child(std::move(options));
  std::string out = child.ReadAll(timeout);
  // The output has ended, so has the command but for its exit (unless the time was up).
  return {child.Wait(std::chrono::seconds(5)).value_or(-1), std::move(out)};
}

}  // namespace velt::testsupport
