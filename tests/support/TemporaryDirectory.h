// Test helpers: a fresh folder under the system's temporary folder, removed with everything in
// it when the object goes; and waiting for a condition with a deadline instead of a fixed sleep.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace velt::testsupport {

class TemporaryDirectory {
 public:
  // The folder's name starts with `prefix`. path() is empty when it could not be made.
  explicit TemporaryDirectory(const std::string& prefix = "velt-test");
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Calls `condition` until it is true or `timeout` has passed, with short pauses between calls;
// the last result.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10),
                std::chrono::milliseconds pause = std::chrono::milliseconds(10));

}  // namespace velt::testsupport
