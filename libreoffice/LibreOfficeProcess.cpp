#include "LibreOfficeProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <rtl/digest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "Spreadsheet.h"

extern char** environ;

#include "Translation.h"

namespace velt::lo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Offices that may run at once with a kept profile each; more get a temporary one.
constexpr int kKeptProfileSlots = 8;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// Extra settings for the fresh profile: macros stay off even if a load argument is ignored, no
// autosave writes happen in the background, a visible office greets nobody with a dialog, a
// save in Calc does not ask whether to keep an Excel format (the user's "save changes?" stays
// the one question), and formulas of .xlsx and .ods files are calculated on load (Calc would
// take the results stored in the file, which other programs may have left out).
constexpr const char* kRegistryModifications =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="DisableMacrosExecution" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/AutoSave"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/RecoveryInfo"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/Document"><prop oor:name="WarnAlienFormat" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
)";

// The process we spawn: a shell that starts soffice in the background and guards it. Its
// helper holds the read end of a socket whose other end only this program holds: "quit" on it
// means the program ends the office itself; end of file without it means the program is gone
// (killed, crashed), and the helper ends the office and removes its profile and sockets, so that
// nothing outlives the program. "lock PATH" lines name the lock files of the documents the
// office opened; those that still name this profile then go too, or the documents would stay
// locked for every later run. The shell exits with soffice's status, which is how a failed
// start is seen.
constexpr const char* kGuard = R"(profile=$1 socket1=$2 socket2=$3 url=$4
shift 4
"$@" 3<&- &
office=$!
(
  trap '' TERM HUP
  locks=
  while IFS= read -r line <&3; do
    case $line in
      quit) exit 0 ;;
      "lock "*) locks="$locks
${line#lock }" ;;
    esac
  done
  kill -TERM 0
  sleep 2
  rm -rf "$profile" "$socket1" "$socket2"
  printf '%s\n' "$locks" | while IFS= read -r lock; do
    [ -n "$lock" ] || continue
    content=
    IFS= read -r content < "$lock" 2>/dev/null
    case $content in *",$url;"*) rm -f -- "$lock" ;; esac
  done
  kill -KILL 0
) &
exec 3<&-
wait $office
)";

std::string UniquePipeName() {
  static std::atomic<unsigned> counter{0};
  auto ticks = Clock::now().time_since_epoch().count();
  return "velt-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(static_cast<unsigned long long>(ticks) & 0xffffffu);
}

// Whether `program` can be executed, looked up like execvp does.
bool Executable(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) dir = ".";
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

std::string FileUrl(const std::string& absolutePath) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char byte : absolutePath) {
    const auto c = static_cast<unsigned char>(byte);
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 std::strchr("/-._~", c) != nullptr;
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

KeptProfile TakeKeptProfile(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return {};
  fs::permissions(folder, fs::perms::owner_all, ec);
  for (int n = 0; n < kKeptProfileSlots; ++n) {
    const std::string base = (fs::path(folder) / ("profile-" + std::to_string(n))).string();
    const int fd = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return {fd, base};
    close(fd);
  }
  return {};
}

void PrepareProfile(const std::string& dir) {
  const std::string file = dir + "/user/registrymodifications.xcu";
  std::string text;
  {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    if (in) all << in.rdbuf();
    text = all.str();
  }
  static const std::string kClosing = "</oor:items>";
  std::error_code ec;
  if (!text.empty() && text.rfind(kClosing) == std::string::npos) {
    // Cut short (an office killed while it wrote it): nothing in the profile is trusted.
    fs::remove_all(dir, ec);
    text.clear();
  }
  fs::create_directories(dir + "/user", ec);
  if (text.empty()) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << kRegistryModifications;
    return;
  }
  // A setting of ours that is not there as written goes in at the end, where it wins.
  std::string missing;
  std::istringstream ours(kRegistryModifications);
  for (std::string line; std::getline(ours, line);) {
    if (line.rfind("<item ", 0) == 0 && text.find(line) == std::string::npos) {
      missing += line + "\n";
    }
  }
  if (missing.empty()) return;
  text.insert(text.rfind(kClosing), missing);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

OfficeProcess::OfficeProcess(const std::string& soffice, bool headless,
                             const std::string& keptProfiles) {
  if (!Executable(soffice)) {
    throw SpreadsheetError(Tr("LibreOffice is not installed: \"{}\" was not found", {soffice}));
  }

  std::error_code ec;
  const KeptProfile kept = keptProfiles.empty() ? KeptProfile{} : TakeKeptProfile(keptProfiles);
  if (kept.lockFd >= 0) {
    kept_ = true;
    lockFd_ = kept.lockFd;
    profile_ = kept.dir;
    // What a killed office left in its temporary folder.
    fs::remove_all(profile_ + "/tmp", ec);
  } else {
    fs::path tmp = fs::temp_directory_path(ec);
    if (ec) tmp = "/tmp";
    std::string pattern = (tmp / "velt-lo-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
      throw SpreadsheetError("Cannot create a LibreOffice profile directory in " + tmp.string() +
                             ": " + ErrnoText(errno));
    }
    profile_ = buffer.data();
  }
  profileUrl_ = FileUrl(profile_);
  pipe_ = UniquePipeName();
  log_ = profile_ + "/soffice.log";
  PrepareProfile(profile_);

  std::vector<std::string> sockets = SocketFiles();
  // The guard removes a temporary profile when this program dies; a kept one stays.
  std::vector<std::string> args = {
      "/bin/sh",  "-c",       kGuard,      "sh",   ProfileKept() ? std::string() : profile_,
      sockets[0], sockets[1], profileUrl_, soffice};
  if (headless) args.push_back("--headless");
  for (const char* a : {"--invisible", "--norestore", "--nologo", "--nodefault", "--nolockcheck"}) {
    args.push_back(a);
  }
  args.push_back("--accept=pipe,name=" + pipe_ + ";urp;");
  args.push_back("-env:UserInstallation=" + profileUrl_);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int guard[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, guard) != 0) {
    int error = errno;
    ReleaseProfile();
    throw SpreadsheetError(Tr("Cannot start LibreOffice: {}", {ErrnoText(error)}));
  }
  guard_ = guard[0];

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_adddup2(&actions, guard[1], 3);
  if (ProfileKept()) posix_spawn_file_actions_adddup2(&actions, lockFd_, 4);
  // The office must not inherit our sockets and files (a TM connection, an X connection...).
  posix_spawn_file_actions_addclosefrom_np(&actions, ProfileKept() ? 5 : 4);
  // Its own group, so that the launcher and soffice.bin are signalled together; default signal
  // handling whatever the calling thread has blocked or ignored.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Our own process sets URE_BOOTSTRAP for its UNO runtime; it belongs to this program's
  // libraries, not to whichever office installation `soffice` is.
  // Its temporary files go inside the profile, so that they go with it even when the office
  // is killed before it can remove them.
  const fs::path officeTmp = fs::path(profile_) / "tmp";
  fs::create_directories(officeTmp, ec);
  std::string tmpdir = "TMPDIR=" + officeTmp.string();
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) != 0 && std::strncmp(*e, "TMPDIR=", 7) != 0) {
      env.push_back(*e);
    }
  }
  if (!ec) env.push_back(tmpdir.data());
  env.push_back(nullptr);
  int rc = posix_spawn(&pid_, "/bin/sh", &actions, &attr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(guard[1]);
  if (rc != 0) {
    pid_ = -1;
    close(guard_);
    guard_ = -1;
    ReleaseProfile();
    throw SpreadsheetError("Cannot start LibreOffice (\"" + soffice + "\"): " + ErrnoText(rc));
  }
}

OfficeProcess::~OfficeProcess() {
  Stop(std::chrono::milliseconds(0));
}

bool OfficeProcess::HasExited() {
  std::lock_guard lock(mutex_);
  if (!reaped_ && pid_ > 0) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = status;
    } else if (r < 0 && errno == ECHILD) {
      // Someone else reaped it (a program-wide SIGCHLD handler); it is gone all the same.
      reaped_ = true;
      status_ = -1;
    }
  }
  return reaped_;
}

std::string OfficeProcess::ExitText() const {
  std::lock_guard lock(mutex_);
  if (!reaped_) return {};
  if (status_ == -1) return "exited";
  if (WIFEXITED(status_)) return "exit code " + std::to_string(WEXITSTATUS(status_));
  if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
  return "exited";
}

std::string OfficeProcess::OutputTail() const {
  std::ifstream in(log_);
  std::string line, last;
  std::vector<std::string> lines;
  while (std::getline(in, line)) {
    // The launcher's complaint about Java is noise here.
    if (line.empty() || line.find("javaldx") != std::string::npos) continue;
    lines.push_back(line);
  }
  size_t from = lines.size() > 3 ? lines.size() - 3 : 0;
  for (size_t i = from; i < lines.size(); ++i) {
    if (!last.empty()) last += "; ";
    last += lines[i];
  }
  return last;
}

std::vector<std::string> OfficeProcess::SocketFiles() const {
  // As the office names them: OSL_PIPE_<uid>_<name> in /tmp, the single-instance pipe named
  // after the MD5 of the profile URL's UTF-16 code units, each byte in unpadded hex.
  std::u16string url(profileUrl_.begin(), profileUrl_.end());  // ASCII: FileUrl encodes the rest
  const auto* data = reinterpret_cast<const sal_uInt8*>(url.data());
  auto size = static_cast<sal_uInt32>(url.size() * sizeof(char16_t));
  sal_uInt8 md5[RTL_DIGEST_LENGTH_MD5] = {};
  rtlDigest digest = rtl_digest_create(rtl_Digest_AlgorithmMD5);
  rtl_digest_init(digest, data, size);
  rtl_digest_update(digest, data, size);
  rtl_digest_get(digest, md5, sizeof md5);
  rtl_digest_destroy(digest);
  std::string hash;
  for (sal_uInt8 byte : md5) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%x", byte);
    hash += hex;
  }
  std::string prefix = "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_";
  return {prefix + pipe_, prefix + "SingleOfficeIPC_" + hash};
}

void OfficeProcess::WatchLockFile(const std::string& lockFile) {
  if (lockFile.find('\n') != std::string::npos) return;  // cannot travel as a line
  const std::string line = "lock " + lockFile + "\n";
  std::lock_guard lock(mutex_);
  if (guard_ >= 0) send(guard_, line.data(), line.size(), MSG_NOSIGNAL);
}

bool OfficeProcess::GroupGoneLocked() {
  if (groupGone_) return true;
  // While the launcher is not reaped its pid keeps the group id reserved; afterwards an empty
  // group makes kill fail with ESRCH, and the id must not be signalled again (it may be reused).
  if (reaped_ && !ProcessGroupAlive(pid_)) groupGone_ = true;
  return groupGone_;
}

void OfficeProcess::Signal(int signal) {
  std::lock_guard lock(mutex_);
  if (pid_ <= 0 || GroupGoneLocked()) return;
  kill(-pid_, signal);
}

bool OfficeProcess::WaitGone(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  for (;;) {
    HasExited();
    {
      std::lock_guard lock(mutex_);
      if (GroupGoneLocked()) return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool OfficeProcess::Stop(std::chrono::milliseconds grace) {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return quitByItself_;
  }
  auto deadline = std::chrono::steady_clock::now() + grace;
  while (!HasExited() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool exited = HasExited();
  // The guard leaves quietly; whatever is left of the office is ended below.
  {
    std::lock_guard lock(mutex_);
    if (guard_ >= 0) {
      send(guard_, "quit\n", 5, MSG_NOSIGNAL);
      close(guard_);
      guard_ = -1;
    }
  }
  bool quit = pid_ <= 0 || (exited && WaitGone(std::chrono::milliseconds(2000)));
  if (!quit) {
    Signal(SIGTERM);
    if (!WaitGone(std::chrono::milliseconds(3000))) {
      Signal(SIGKILL);
      WaitGone(std::chrono::milliseconds(10000));
    }
  }
  ReleaseProfile();
  if (WaitGone(std::chrono::milliseconds(0))) {
    for (const std::string& file : SocketFiles()) {
      struct stat info {};
      if (lstat(file.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) unlink(file.c_str());
    }
  }
  std::lock_guard lock(mutex_);
  stopped_ = true;
  quitByItself_ = quit;
  return quit;
}

void OfficeProcess::ReleaseProfile() {
  std::error_code ec;
  if (!ProfileKept() || discardProfile_) fs::remove_all(profile_, ec);
  if (lockFd_ >= 0) {
    close(lockFd_);
    lockFd_ = -1;
  }
}

bool ProcessGroupAlive(pid_t group) {
  if (group <= 0) return false;
  if (kill(-group, 0) != 0 && errno == ESRCH) return false;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    // "pid (comm) state ppid pgrp ...": comm may hold anything, so parse after the last ')'.
    auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    long parent = 0, processGroup = 0;
    if (!(fields >> state >> parent >> processGroup)) continue;
    if (processGroup == group && state != 'Z' && state != 'X') return true;
  }
  return false;
}

bool WindowSystemPluginInstalled(const std::string& programDir) {
  std::error_code ec;
  for (fs::directory_iterator it(programDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("libvclplug_", 0) == 0 && name.find(".so") != std::string::npos) return true;
  }
  return false;
}

bool DisplayUsable() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  // Ask Xlib itself, as the office will: it knows the display syntax and the authorisation.
  // The library stays loaded: unloading Xlib is not safe.
  static void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
  if (!xlib) return false;
  using OpenFn = void* (*)(const char*);
  using CloseFn = int (*)(void*);
  auto open = reinterpret_cast<OpenFn>(dlsym(xlib, "XOpenDisplay"));
  auto close = reinterpret_cast<CloseFn>(dlsym(xlib, "XCloseDisplay"));
  if (!open || !close) return false;
  void* connection = open(display);
  if (!connection) return false;
  close(connection);
  return true;
}

}  // namespace velt::lo
