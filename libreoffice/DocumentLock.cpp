#include "DocumentLock.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "WorkbookLocked.h"

namespace velt::lo {

namespace {

namespace fs = std::filesystem;

// Our profiles are velt-lo-XXXXXX folders (see LibreOfficeProcess.cpp).
constexpr std::string_view kOwnProfile = "/velt-lo-";

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      fields.back() += line[++i];
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c == ';') {
      break;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// Whether the lock's host is this machine: the office may record the full domain name.
bool ThisHost(const std::string& host) {
  const std::string name = HostName();
  if (host.empty() || name.empty()) return false;
  const auto shortName = [](const std::string& n) { return n.substr(0, n.find('.')); };
  return host == name || shortName(host) == shortName(name);
}

// The path of a file URL with only ASCII in it, as our profiles are named.
std::string PathOfUrl(const std::string& url) {
  constexpr std::string_view kScheme = "file://";
  if (url.rfind(kScheme, 0) != 0) return {};
  std::string path = url.substr(kScheme.size());
  if (path.find('%') != std::string::npos) return {};
  return path;
}

// Whether a process runs with this profile: soffice gets it as -env:UserInstallation=URL.
bool ProfileInUse(const std::string& url) {
  const std::string argument = "-env:UserInstallation=" + url;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(it->path() / "cmdline", std::ios::binary);
    std::string arg;
    while (std::getline(in, arg, '\0')) {
      if (arg == argument || arg == argument + "/") return true;
    }
  }
  return false;
}

}  // namespace

std::string SiblingLockFile(const std::string& documentPath, const char* prefix) {
  const fs::path document(documentPath);
  return (document.parent_path() / (prefix + document.filename().string() + "#")).string();
}

std::optional<DocumentLock> ReadDocumentLock(const std::string& documentPath) {
  const std::string file = LockFileFor(documentPath);
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> fields = SplitFields(line);
  DocumentLock lock;
  lock.file = file;
  if (fields.size() >= 5) {
    lock.displayName = fields[0];
    lock.user = fields[1];
    lock.host = fields[2];
    lock.time = fields[3];
    lock.profileUrl = fields[4];
  }
  return lock;
}

bool StaleOwnLock(const DocumentLock& lock) {
  const std::string profile = PathOfUrl(lock.profileUrl);
  if (profile.find(kOwnProfile) == std::string::npos) return false;
  if (!ThisHost(lock.host)) return false;
  std::error_code ec;
  if (!fs::exists(profile, ec) && !ec) return true;
  return !ProfileInUse(lock.profileUrl);
}

void ClearStaleLockOrThrow(const std::string& documentPath, const std::string& ownProfileUrl) {
  const auto lock = ReadDocumentLock(documentPath);
  // A lock that names nobody is left to the office to judge.
  if (!lock || (lock->user.empty() && lock->displayName.empty() && lock->profileUrl.empty()))
    return;
  if (!ownProfileUrl.empty() && lock->profileUrl == ownProfileUrl) return;
  if (StaleOwnLock(*lock)) {
    std::error_code ec;
    fs::remove(lock->file, ec);
    if (!ec) return;
  }
  const std::string holder = lock->displayName.empty() ? lock->user : lock->displayName;
  throw WorkbookLockedError(lock->file, holder.empty() ? "?" : holder,
                            lock->host.empty() ? "?" : lock->host,
                            lock->time.empty() ? "?" : lock->time);
}

}  // namespace velt::lo
