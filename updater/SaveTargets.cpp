#include "SaveTargets.h"

#include <cstring>
#include <filesystem>

#include "AsciiText.h"

namespace velt {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDateFields = "YmdHMSjuV%";

// Where the file name starts: after the last '/'.
size_t FileNameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

SaveTargetKind SaveTargetKindOf(const std::string& path) {
  const std::string extension = AsciiLower(fs::path(path).extension().string());
  if (extension == ".xls" || extension == ".xlsx" || extension == ".ods")
    return SaveTargetKind::kWorkbook;
  if (extension == ".pdf") return SaveTargetKind::kPdf;
  if (extension == ".csv") return SaveTargetKind::kCsv;
  return SaveTargetKind::kUnknown;
}

std::optional<std::string> BadDateField(const std::string& path) {
  for (size_t i = FileNameStart(path); i < path.size(); ++i) {
    if (path[i] != '%') continue;
    if (i + 1 == path.size()) return std::string("%");
    // A byte of a UTF-8 sequence is never a field letter: the whole character is named.
    if (static_cast<unsigned char>(path[i + 1]) >= 0x80 ||
        std::strchr(kDateFields, path[i + 1]) == nullptr) {
      size_t end = i + 2;
      while (end < path.size() && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80) ++end;
      return path.substr(i, end - i);
    }
    ++i;
  }
  return std::nullopt;
}

bool HasDateFields(const std::string& path) {
  return path.find('%', FileNameStart(path)) != std::string::npos;
}

std::string ExpandDateFields(const std::string& path, const std::tm& local) {
  const size_t start = FileNameStart(path);
  std::string expanded = path.substr(0, start);
  const std::string name = path.substr(start);
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%' || i + 1 == name.size()) {
      expanded += name[i];
      continue;
    }
    const char format[] = {'%', name[++i], '\0'};
    char buffer[16];
    const size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    expanded.append(buffer, n);
  }
  return expanded;
}

}  // namespace velt
