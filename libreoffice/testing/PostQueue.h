// The program's event loop as the office tests have it: work the office posts (close
// notifications) waits here until the test runs it.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>

#include "Eventually.h"
#include "Spreadsheet.h"

namespace velt::testsupport {

class PostQueue {
 public:
  Poster MakePoster() {
    return [this](std::function<void()> work) {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(work));
    };
  }
  size_t Size() {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }
  void RunAll() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mutex_);
      work.swap(queue_);
    }
    for (auto& w : work) w();
  }
  // Runs what was posted until `done`, for at most `limit`.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto ranUntilDone = [&] {
      if (done()) return true;
      RunAll();
      return false;
    };
    return Eventually(ranUntilDone, limit, std::chrono::milliseconds(20));
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace velt::testsupport
