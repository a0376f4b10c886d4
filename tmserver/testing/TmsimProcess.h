// Test fixture: runs the TM server simulator (tmsim) as a child process on a free loopback port.
// Every process it starts it ends by pid; a test binary that dies takes its tmsim with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace velt {

// The demonstration database in the source tree (tmserver/data/demo.toml).
std::string DemoDatabasePath();
// The tmsim executable this build produced.
std::string TmsimPath();
// A TCP connection to 127.0.0.1:port that says nothing, or -1 when none is accepted.
int ConnectLoopback(uint16_t port);

struct TmsimOptions {
  std::string database = DemoDatabasePath();  // empty: no --db (give --synthetic in extra_args)
  std::string name = "TMS";                   // --name
  std::vector<std::string> extra_args;        // appended to the command line
  std::string tz;                             // TZ of the simulator; empty: inherited
  double latency_ms = 0;                      // --latency: added delay of every answer
};

class TmsimProcess {
 public:
  // Starts tmsim on 127.0.0.1 with a free port; throws std::runtime_error (with what tmsim said
  // on stderr going to the test's stderr) when it does not come up within 10 s.
  // stderrPath: the file its log is appended to; empty: the test's own stderr.
  explicit TmsimProcess(TmsimOptions options = {}, std::string stderrPath = {});
  ~TmsimProcess();
  TmsimProcess(const TmsimProcess&) = delete;
  TmsimProcess& operator=(const TmsimProcess&) = delete;

  std::string Address() const;  // "127.0.0.1:PORT"
  uint16_t Port() const { return port_; }
  pid_t Pid() const;  // 0 while stopped
  bool Running() const { return Pid() != 0; }

  // SIGTERM, then SIGKILL if it has not ended within 5 s. Does nothing when stopped.
  void Stop();
  // SIGKILL at once, as a crash would.
  void Kill();
  // Starts it again on the same port (stopping it first if it runs).
  void Restart();
  // SIGSTOP / SIGCONT: the server keeps its connections but answers nothing.
  void Freeze();
  void Thaw();

 private:
  void Start(uint16_t port);
  void EndWith(int signal);

  TmsimOptions options_;
  std::string stderr_path_;
  std::unique_ptr<testsupport::ChildProcess> child_;
  uint16_t port_ = 0;
  bool frozen_ = false;
};

}  // namespace velt
