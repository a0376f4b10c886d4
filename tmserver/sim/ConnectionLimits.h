// What keeps a crowd of clients from tying the simulator up: a cap on open connections, a
// bound on the time a connection may take to say Hello, and a rate limit on repeated log lines
// (a flood of failed accepts would otherwise fill the disk).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace velt::tmsim {

struct ConnectionLimits {
  size_t maxConnections = 256;
  std::chrono::milliseconds helloTimeout{5000};
};

// Lets the first line of each kind through per window; the lines held back are counted, and
// the next line of that kind that goes out says how many there were.
class LogLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit LogLimiter(std::chrono::milliseconds window = std::chrono::seconds(10))
      : window_(window) {}

  // The line to write now, or nothing while this kind is held back.
  std::optional<std::string> Filter(const std::string& kind, const std::string& line,
                                    Clock::time_point now);

 private:
  struct Kind {
    Clock::time_point opened;
    size_t held = 0;
  };
  std::chrono::milliseconds window_;
  std::map<std::string, Kind> kinds_;
};

}  // namespace velt::tmsim
