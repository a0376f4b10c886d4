// Waiting for a condition with a deadline instead of a fixed sleep.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace velt::testsupport {

// Calls `condition` until it is true or `timeout` has passed, with short pauses between calls;
// the last result.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10),
                       std::chrono::milliseconds pause = std::chrono::milliseconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(pause);
  }
  return true;
}

}  // namespace velt::testsupport
