// Waiting for a condition with a deadline instead of a fixed sleep.
#pragma once

#include <chrono>
#include <functional>

namespace velt::testsupport {

// Calls `condition` until it is true or `timeout` has passed, with short pauses between calls;
// the last result.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10),
                std::chrono::milliseconds pause = std::chrono::milliseconds(10));

}  // namespace velt::testsupport
