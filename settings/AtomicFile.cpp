#include "AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Translation.h"

namespace velt {

namespace {

Failure Describe(const std::string& what, const std::string& path, int error) {
  return {error, Tr(what.c_str()) + (" " + path + ": ") + std::strerror(error)};
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a failing close (delayed write errors) is seen.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a symbolic link points to, so that replacing it keeps the user's link.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;  // a dangling link is replaced by the file
}

// The temporary file of a write of target: hidden, and marked as this program's, so that no
// file a user keeps beside the target ("day.ini.backup", "day.ini.orig01") can have its name.
constexpr std::string_view kTemporaryMark = ".velt-save-";

std::string TemporaryPrefix(const std::string& target) {
  return "." + target.substr(target.rfind('/') + 1) + std::string(kTemporaryMark);
}

// Removes the temporary files that earlier writes of target left when they were killed part
// way: TemporaryPrefix + six characters of mkstemp that no live writer holds (each writer
// keeps its temporary file locked until it is renamed or removed).
void RemoveLeftovers(const std::string& directory, const std::string& target) {
  const std::string name = TemporaryPrefix(target);
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view file = entry->d_name;
    if (file.size() != name.size() + 6 || file.substr(0, name.size()) != name) continue;
    const std::string_view suffix = file.substr(name.size());
    const bool temporary = std::all_of(suffix.begin(), suffix.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
    if (!temporary) continue;
    const std::string path = directory + "/" + std::string(file);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
  ::closedir(dir);
}

}  // namespace

Result<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Describe("cannot open", path, errno);
  Descriptor file(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Describe("cannot examine", path, errno);
  if (!S_ISREG(st.st_mode)) return Failure{EINVAL, Tr("{} is not a regular file", {path})};
  const Failure tooLarge{EFBIG, Tr("{} is larger than {} bytes", {path, std::to_string(limit)})};
  if (static_cast<std::size_t>(st.st_size) > limit) return tooLarge;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Describe("cannot read", path, errno);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    // The file may grow while it is read.
    if (bytes.size() > limit) return tooLarge;
  }
  return bytes;
}

Result<> WriteFileAtomically(const std::string& path, std::string_view bytes,
                             const AtomicWriteProbe& probe) {
  if (path.empty()) return Failure{ENOENT, Tr("no settings path")};
  const std::string target = ResolveTarget(path);
  const std::string directory = DirectoryOf(target);

  RemoveLeftovers(directory, target);
  std::string temporary = directory + "/" + TemporaryPrefix(target) + "XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return Describe("cannot create a file in", directory, errno);
  Descriptor file(fd);
  ::flock(fd, LOCK_EX);  // tells RemoveLeftovers that this one is alive
  auto fail = [&](Failure failure) {
    ::unlink(temporary.c_str());
    return Result<>(std::move(failure));
  };
  auto refused = [](const std::string& what, const std::string& name) {
    return Failure{EPERM, Tr(what.c_str()) + (" " + name + ": ") + Tr("refused")};
  };
  auto at = [&](std::string_view stage) { return !probe || probe(stage); };

  // mkstemp makes the file private; give it the old file's bits, or the usual ones.
  struct stat st {};
  mode_t mode;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) return fail(Describe("cannot set the mode of", temporary, errno));
  if (!at("opened")) return fail(refused("cannot write", temporary));

  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(Describe("cannot write", temporary, errno));
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (!at("written")) return fail(refused("cannot write", temporary));
  if (::fsync(fd) != 0) return fail(Describe("cannot flush", temporary, errno));
  if (file.Close() != 0) return fail(Describe("cannot close", temporary, errno));
  if (!at("synced")) return fail(refused("cannot replace", target));

  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    return fail(Describe("cannot replace", target, errno));
  }
  // Make the rename itself durable; the data is safe either way, so a failure here is not one.
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace velt
