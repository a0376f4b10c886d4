// A bound on how much one tree reload or listing asks of the server: numbers enumerated in all
// and time spent. A server that always returns full lists would otherwise have the browser
// walk 65 535 RTUs per channel, on every connect, with the window blocked.
#pragma once

#include <chrono>
#include <cstddef>

namespace velt {

class EnumerationBudget {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxNumbers = 16384;
  static constexpr std::chrono::seconds kMaxTime{10};

  explicit EnumerationBudget(size_t maxNumbers = kMaxNumbers, Clock::duration maxTime = kMaxTime)
      : left_(maxNumbers), deadline_(Clock::now() + maxTime) {}

  // How many of `wanted` more numbers may be kept; once it gives fewer, or the time is up, the
  // lists are cut.
  size_t Take(size_t wanted) {
    if (Clock::now() >= deadline_) {
      if (wanted > 0) cut_ = true;
      return 0;
    }
    const size_t given = wanted < left_ ? wanted : left_;
    if (given < wanted) cut_ = true;
    left_ -= given;
    return given;
  }
  bool Cut() const { return cut_; }

 private:
  size_t left_;
  Clock::time_point deadline_;
  bool cut_ = false;
};

}  // namespace velt
