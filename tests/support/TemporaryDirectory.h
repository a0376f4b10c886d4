// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
#pragma once

#include <filesystem>
#include <string>

#include "Eventually.h"  // the tests that make folders mostly wait for files, too

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

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace velt::testsupport
