#include "TemporaryDirectory.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace velt::testsupport {

namespace fs = std::filesystem;

TemporaryDirectory::TemporaryDirectory(const std::string& prefix) {
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string TemporaryDirectory::File(const std::string& name) const {
  return (path_ / name).string();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace velt::testsupport
