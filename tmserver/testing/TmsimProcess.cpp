#include "TmsimProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "ChildProcess.h"

namespace velt {

std::string DemoDatabasePath() {
  return VELT_DEMO_DATABASE;
}
std::string TmsimPath() {
  return VELT_TMSIM_PATH;
}

int ConnectLoopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

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

pid_t TmsimProcess::Pid() const {
  return child_ ? child_->Pid() : 0;
}

void TmsimProcess::Start(uint16_t port) {
  testsupport::ChildOptions child;
  child.argv = {TmsimPath(), "--listen", "127.0.0.1:" + std::to_string(port), "--name",
                options_.name};
  child.stderrFile = stderr_path_;
  child.appendOutput = true;
  child.stdoutPipe = true;
  if (!options_.database.empty()) {
    child.argv.push_back("--db");
    child.argv.push_back(options_.database);
  }
  if (options_.latency_ms > 0) {
    child.argv.push_back("--latency");
    child.argv.push_back(std::to_string(options_.latency_ms));
  }
  child.argv.insert(child.argv.end(), options_.extra_args.begin(), options_.extra_args.end());
  if (!options_.tz.empty()) child.environment.emplace_back("TZ", options_.tz);
  child_ = std::make_unique<testsupport::ChildProcess>(std::move(child));
  if (child_->Pid() == 0) throw std::runtime_error("tmsim: fork failed");
  frozen_ = false;
  const std::string line = child_->ReadLine(std::chrono::seconds(10));
  child_->CloseStdout();

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
  if (Pid() == 0) return;
  if (frozen_ && signal != SIGKILL) child_->Signal(SIGCONT);
  child_->End(signal);
  child_.reset();
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
  if (Pid() == 0) return;
  child_->Signal(SIGSTOP);
  // Wait until it has really stopped, so that the caller's next request meets a frozen server.
  child_->WaitStopped();
  frozen_ = true;
}

void TmsimProcess::Thaw() {
  if (Pid() == 0) return;
  child_->Signal(SIGCONT);
  frozen_ = false;
}

}  // namespace velt
