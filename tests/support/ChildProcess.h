// A program a test runs as a child process: started with its own arguments and environment,
// its output in files or read through a pipe, signalled, waited for with a deadline and ended
// by its process id. The child dies with the test process should that die first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velt::testsupport {

struct ChildOptions {
  // argv[0] is looked up in PATH unless it holds a slash.
  std::vector<std::string> argv;
  // Set (a value) or removed (nullopt) in the child, on top of the test's environment.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // Files the output goes to (empty: the test's own); the same name for both takes both.
  std::string stdoutFile;
  std::string stderrFile;
  bool appendOutput = false;  // append to the files instead of starting them empty
  bool stdoutPipe = false;    // stdout through a pipe, for ReadLine and ReadAll
  int deathSignal = SIGKILL;  // what the child gets when the test process dies
  int endSignal = SIGTERM;    // what the destructor ends it with
};

class ChildProcess {
 public:
  // Pid() is 0 when the program could not be started; a program not found exits with 127.
  explicit ChildProcess(ChildOptions options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }  // 0 once it has ended and been reaped
  bool Running() { return !Poll(); }
  // The exit code (128 + the signal for a killed child) once it has ended, without waiting.
  std::optional<int> Poll();
  // The same, waiting up to `timeout`; nullopt when it still runs.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  void Signal(int signal);
  // Waits until a SIGSTOP has taken effect.
  void WaitStopped();
  // Sends `signal`, then SIGKILL if it has not ended within `grace`; the exit code.
  int End(int signal = SIGTERM, std::chrono::milliseconds grace = std::chrono::seconds(5));

  // The first line on the stdout pipe (without its end), giving up at the timeout or the end
  // of the output; and all of it up to its end.
  std::string ReadLine(std::chrono::milliseconds timeout);
  std::string ReadAll(std::chrono::milliseconds timeout);
  void CloseStdout();

 private:
  bool Read(std::chrono::steady_clock::time_point deadline);

  ChildOptions options_;
  pid_t pid_ = 0;
  std::optional<int> code_;
  int stdout_ = -1;
  std::string buffer_;
};

// What `command` prints on stdout when /bin/sh runs it, and its exit code (-1: it was ended
// at the timeout).
struct CommandOutput {
  int code = -1;
  std::string out;
};
CommandOutput RunShell(const std::string& command,
                       std::chrono::milliseconds timeout = std::chrono::minutes(5));

}  // namespace velt::testsupport
