#include "SaveLeftovers.h"

#include <filesystem>

#include "DocumentLock.h"

namespace velt::lo {

namespace fs = std::filesystem;

SaveLeftovers::SaveLeftovers(const std::string& documentPath)
    : document_(documentPath),
      folder_(fs::path(documentPath).parent_path().string()),
      before_(Scan()) {}

std::set<std::string> SaveLeftovers::Scan() const {
  std::set<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 6 && name.rfind("lu", 0) == 0 && name.ends_with(".tmp")) found.insert(name);
  }
  return found;
}

void SaveLeftovers::RemoveNew(const std::string& profileUrl) const {
  for (const std::string& name : Scan()) {
    if (before_.contains(name)) continue;
    std::error_code ec;
    fs::remove_all(fs::path(folder_) / name, ec);
  }
  const auto lock = ReadDocumentLock(document_);
  if (lock && !profileUrl.empty() && lock->profileUrl == profileUrl) {
    std::error_code ec;
    fs::remove(lock->file, ec);
  }
}

}  // namespace velt::lo
