#include "WorkbookFlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>

#include "DocumentLock.h"
#include "LocalTime.h"
#include "WorkbookLocked.h"

namespace velt::lo {

namespace {

std::string ProgramName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name.empty() ? std::string("veltexcel") : name;
}

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return "?";
  return host;
}

std::string Now() {
  return LocalTimeText("%d.%m.%Y %H:%M:%S");
}

// "program,pid,host,time" as the holder wrote it.
std::string ReadHolder(int fd) {
  char buffer[512];
  const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string Field(const std::string& text, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    start = text.find(',', start);
    if (start == std::string::npos) return "?";
    ++start;
  }
  const size_t end = text.find_first_of(",\n", start);
  const std::string field = text.substr(start, end == std::string::npos ? end : end - start);
  return field.empty() ? "?" : field;
}

}  // namespace

std::string WorkbookFlock::PathFor(const std::string& documentPath) {
  return SiblingLockFile(documentPath, ".~veltexcel.");
}

std::unique_ptr<WorkbookFlock> WorkbookFlock::Take(const std::string& documentPath) {
  const std::string path = PathFor(documentPath);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const std::string holder = ReadHolder(fd);
      close(fd);
      throw WorkbookLockedError(path, Field(holder, 0) + " (process " + Field(holder, 1) + ")",
                                Field(holder, 2), Field(holder, 3));
    }
    // The holder before may have removed the file between our open and our lock: a lock on a
    // file no longer at the path guards nothing, so try again on the one there now.
    struct stat held {
    }, now{};
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &now) == 0 && held.st_ino == now.st_ino &&
        held.st_dev == now.st_dev) {
      const std::string holder =
          ProgramName() + "," + std::to_string(getpid()) + "," + HostName() + "," + Now() + "\n";
      if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] auto written = pwrite(fd, holder.data(), holder.size(), 0);
      }
      return std::unique_ptr<WorkbookFlock>(new WorkbookFlock(fd, path));
    }
    close(fd);
  }
  return nullptr;
}

WorkbookFlock::~WorkbookFlock() {
  // Removed while still held, so that the next run finds either this file locked or none.
  unlink(path_.c_str());
  close(fd_);
}

}  // namespace velt::lo
