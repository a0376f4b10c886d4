#include "Eventually.h"

#include <thread>

namespace velt::testsupport {

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
                std::chrono::milliseconds pause) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(pause);
  }
  return true;
}

}  // namespace velt::testsupport
