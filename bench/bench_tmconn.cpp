// Median round trip of one tmcAnalog (libtmconn -> tmsim -> libtmconn) on loopback, and of a
// bare TCP ping-pong moving the same number of bytes each way, measured alternately in one run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "TmsimProcess.h"
#include "tmconn.h"

namespace {

using Clock = std::chrono::steady_clock;

// The wire sizes of an analog request with the time text "N/A" and of its answer.
constexpr size_t kRequestBytes = 4 + 1 + 4 * 2 + 2 + 3;
constexpr size_t kAnswerBytes = 4 + 1 + 1 + 4;

bool ReadExactly(int fd, char* buf, size_t n) {
  while (n > 0) {
    const ssize_t r = recv(fd, buf, n, 0);
    if (r <= 0) return false;
    buf += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A blocking echo-style server in a process of its own, as tmsim is: for each request it reads,
// it writes one answer. (A thread of this process would see cheaper wake-ups than any server.)
class PingPongServer {
 public:
  PingPongServer() {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      std::perror("ping-pong server");
      std::exit(1);
    }
    port_ = ntohs(a.sin_port);
    std::fflush(nullptr);
    child_ = fork();
    if (child_ == 0) {
      const int fd = accept(listener, nullptr, nullptr);
      NoDelay(fd);
      char request[kRequestBytes];
      char answer[kAnswerBytes] = {};
      while (ReadExactly(fd, request, sizeof request)) {
        if (send(fd, answer, sizeof answer, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof answer)) {
          break;
        }
      }
      _exit(0);
    }
    close(listener);
  }
  ~PingPongServer() {
    if (child_ > 0) {
      kill(child_, SIGTERM);
      waitpid(child_, nullptr, 0);
    }
  }
  uint16_t Port() const { return port_; }

 private:
  pid_t child_ = -1;
  uint16_t port_ = 0;
};

double MedianMicros(std::vector<double>& samples) {
  std::nth_element(samples.begin(),
                   samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2),
                   samples.end());
  return samples[samples.size() / 2];
}

bool PinTo(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(static_cast<size_t>(cpu), &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

// Medians of both round trips with the servers (tmsim and the ping-pong process) on serverCpu
// and this client on clientCpu. Children inherit the affinity they are started with.
bool Measure(int serverCpu, int clientCpu, double& analog_median, double& ping_median) {
  if (!PinTo(serverCpu)) return false;
  velt::TmsimProcess sim;
  PingPongServer server;
  if (!PinTo(clientCpu)) return false;

  const uint32_t handle = tmcConnect(sim.Address().c_str(), "TMS", "bench", nullptr, 0);
  if (handle == 0) {
    std::fprintf(stderr, "cannot connect to tmsim at %s\n", sim.Address().c_str());
    return false;
  }
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(server.Port());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("connect");
    return false;
  }
  NoDelay(client);

  auto analog = [&] {
    const float v = tmcAnalog(handle, 1, 3, 1, "N/A", 0);
    if (v > 3.2e38f) {
      std::fprintf(stderr, "tmcAnalog failed\n");
      std::exit(1);
    }
  };
  auto ping = [&] {
    char request[kRequestBytes] = {};
    char answer[kAnswerBytes];
    if (send(client, request, sizeof request, MSG_NOSIGNAL) !=
            static_cast<ssize_t>(sizeof request) ||
        !ReadExactly(client, answer, sizeof answer)) {
      std::fprintf(stderr, "ping-pong failed\n");
      std::exit(1);
    }
  };

  constexpr int kWarmUp = 2000;
  constexpr int kRounds = 20;
  constexpr int kPerRound = 1000;
  for (int i = 0; i < kWarmUp; ++i) {
    analog();
    ping();
  }
  std::vector<double> analog_us, ping_us;
  analog_us.reserve(kRounds * kPerRound);
  ping_us.reserve(kRounds * kPerRound);
  // Alternating rounds, so that both see the same machine load.
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < kPerRound; ++i) {
      const auto t0 = Clock::now();
      analog();
      analog_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    for (int i = 0; i < kPerRound; ++i) {
      const auto t0 = Clock::now();
      ping();
      ping_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
  }
  close(client);
  tmcDisconnect(handle);
  analog_median = MedianMicros(analog_us);
  ping_median = MedianMicros(ping_us);
  return true;
}

}  // namespace

int main() {
  // Where the peers run decides the wake-up cost more than anything in the code: on a VM a
  // wake-up of an idle CPU can cost tens of microseconds. Both comparisons use the same
  // placement for the library and for the bare ping-pong.
  const int cpus = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  struct Placement {
    const char* name;
    int serverCpu, clientCpu;
  };
  std::vector<Placement> placements{{"same CPU", 0, 0}};
  if (cpus > 1) placements.push_back({"client and server on different CPUs", 1, 0});
  for (const auto& placement : placements) {
    double analog_median = 0, ping_median = 0;
    if (!Measure(placement.serverCpu, placement.clientCpu, analog_median, ping_median)) return 1;
    const double ratio = analog_median / ping_median;
    std::printf("%s:\n", placement.name);
    std::printf("  tmcAnalog round trip (libtmconn <-> tmsim, loopback): median %.1f us\n",
                analog_median);
    std::printf("  bare TCP ping-pong (%zu bytes out, %zu back, loopback): median %.1f us\n",
                kRequestBytes, kAnswerBytes, ping_median);
    std::printf("  ratio %.2f (target <= 2.00) %s\n", ratio, ratio <= 2.0 ? "OK" : "ABOVE TARGET");
  }
  return 0;
}
