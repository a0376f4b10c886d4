// Median round trip of one tmcAnalog (libtmconn -> tmsim -> libtmconn) on loopback, and of a
// bare TCP ping-pong moving the same number of bytes each way, measured alternately in one run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
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

// A blocking echo-style server: for each request it reads, it writes one answer.
class PingPongServer {
 public:
  PingPongServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      std::perror("ping-pong server");
      std::exit(1);
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      const int fd = accept(listener_, nullptr, nullptr);
      NoDelay(fd);
      char request[kRequestBytes];
      char answer[kAnswerBytes] = {};
      while (ReadExactly(fd, request, sizeof request)) {
        if (send(fd, answer, sizeof answer, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof answer)) {
          break;
        }
      }
      close(fd);
    });
  }
  ~PingPongServer() {
    thread_.join();
    close(listener_);
  }
  uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

double MedianMicros(std::vector<double>& samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

}  // namespace

int main() {
  velt::TmsimProcess sim;
  const uint32_t handle = tmcConnect(sim.Address().c_str(), "TMS", "bench", nullptr, 0);
  if (handle == 0) {
    std::fprintf(stderr, "cannot connect to tmsim at %s\n", sim.Address().c_str());
    return 1;
  }

  PingPongServer server;
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(server.Port());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("connect");
    return 1;
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

  const double analog_median = MedianMicros(analog_us);
  const double ping_median = MedianMicros(ping_us);
  const double ratio = analog_median / ping_median;
  std::printf("tmcAnalog round trip (libtmconn <-> tmsim, loopback): median %.1f us\n",
              analog_median);
  std::printf("bare TCP ping-pong (%zu bytes out, %zu back, loopback): median %.1f us\n",
              kRequestBytes, kAnswerBytes, ping_median);
  std::printf("ratio %.2f (target <= 2.00) %s\n", ratio, ratio <= 2.0 ? "OK" : "ABOVE TARGET");
  return 0;
}
