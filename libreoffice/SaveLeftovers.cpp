#include "SaveLeftovers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "DocumentLock.h"

namespace velt::lo {

namespace fs = std::filesystem;

namespace {

// The office names its temporary file "lu" + a number in base 36 + ".tmp"; other programs'
// files that merely look alike ("lu_other_app.tmp") do not match.
bool OfficeTemporaryName(const std::string& name) {
  if (name.size() <= 6 || name.rfind("lu", 0) != 0 || !name.ends_with(".tmp")) return false;
  const std::string_view middle = std::string_view(name).substr(2, name.size() - 6);
  return std::all_of(middle.begin(), middle.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

}  // namespace

SaveLeftovers::SaveLeftovers(const std::string& documentPath)
    : document_(documentPath),
      folder_(fs::path(documentPath).parent_path().string()),
      before_(Scan()),
      started_(std::time(nullptr)) {}

std::set<std::string> SaveLeftovers::Scan() const {
  std::set<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (OfficeTemporaryName(name)) found.insert(name);
  }
  return found;
}

void SaveLeftovers::RemoveNew(const std::string& profileUrl) const {
  for (const std::string& name : Scan()) {
    if (before_.contains(name)) continue;
    // Only a plain file of this user's, written since the save began, can be the office's own:
    // a folder, a link or an older file belongs to someone else.
    const std::string path = (fs::path(folder_) / name).string();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
        st.st_mtime + 1 < started_) {
      continue;
    }
    ::unlink(path.c_str());
  }
  const auto lock = ReadDocumentLock(document_);
  if (lock && !profileUrl.empty() && lock->profileUrl == profileUrl) {
    std::error_code ec;
    fs::remove(lock->file, ec);
  }
}

}  // namespace velt::lo
