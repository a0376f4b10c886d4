// LibreOffice's lock file beside a document, ".~lock.NAME#": one line "display name,system
// user,host,time,profile URL;" (",", ";" and "\" inside a field escaped with "\"). An office of
// this program that dies without closing its documents (killed, or its program killed) leaves
// it behind, and every later open of the document then fails.
#pragma once

#include <optional>
#include <string>

namespace velt::lo {

struct DocumentLock {
  std::string file;  // the lock file's path
  std::string displayName;
  std::string user;
  std::string host;
  std::string time;
  std::string profileUrl;
};

// The file beside a document named prefix + its name + "#": LibreOffice's ".~lock." and this
// program's ".~veltexcel." (WorkbookFlock) lock files.
std::string SiblingLockFile(const std::string& documentPath, const char* prefix);
inline std::string LockFileFor(const std::string& documentPath) {
  return SiblingLockFile(documentPath, ".~lock.");
}
std::optional<DocumentLock> ReadDocumentLock(const std::string& documentPath);

// Whether the lock was left by an office of this program (its profile is one of ours) that no
// longer runs on this host: its profile is gone, or no process runs with it.
bool StaleOwnLock(const DocumentLock& lock);

// Before opening documentPath: removes its lock file when it is a stale one of ours; throws
// WorkbookLockedError when another live office, ours or a person's, holds the document. A lock
// of the opening office itself (ownProfileUrl) is left to that office.
void ClearStaleLockOrThrow(const std::string& documentPath, const std::string& ownProfileUrl);

}  // namespace velt::lo
