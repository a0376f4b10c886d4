// A soffice process started for one application instance: its own profile directory, its own
// pipe name and its own process group, so that it never attaches to an office already running
// and can be ended as a whole, leaving no process and no directory behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace velt::lo {

class OfficeProcess {
 public:
  // Creates the profile directory and spawns `soffice` (a name looked up in PATH, or a path).
  // SpreadsheetError when the program is missing or cannot be spawned. With `keptProfiles`, a
  // folder, the profile is one kept there between starts (see TakeKeptProfile) when a slot is
  // free, and a fresh temporary one otherwise.
  OfficeProcess(const std::string& soffice, bool headless, const std::string& keptProfiles = {});
  // Stop() with no grace period.
  ~OfficeProcess();
  OfficeProcess(const OfficeProcess&) = delete;
  OfficeProcess& operator=(const OfficeProcess&) = delete;

  // The process group: soffice, soffice.bin and the shell that guards them (see the .cpp).
  pid_t Pid() const { return pid_; }
  const std::string& PipeName() const { return pipe_; }
  const std::string& ProfileDir() const { return profile_; }
  // The profile directory as a file URL, as soffice writes it into document lock files.
  const std::string& ProfileUrl() const { return profileUrl_; }
  // Whether the profile is a kept one, which Stop leaves in place.
  bool ProfileKept() const { return kept_; }
  // The office could not start with the kept profile: Stop removes it, and the next start in
  // that slot makes it anew.
  void DiscardKeptProfile() { discardProfile_ = true; }

  // Reaps the launcher if it has exited; true once it has.
  bool HasExited();
  // "exit code N" or "killed by signal N"; empty while running.
  std::string ExitText() const;
  // The sockets the office makes in /tmp: its pipe for us and its single-instance pipe. A
  // killed office leaves them behind; Stop removes them.
  std::vector<std::string> SocketFiles() const;
  // Tells the guard about the lock file of a document the office opened or saved: if this
  // program dies, the guard removes it while it still names this office's profile.
  void WatchLockFile(const std::string& lockFile);
  // The last lines soffice wrote to its output, for error messages.
  std::string OutputTail() const;

  // Signals the whole process group; does nothing once the group is known to be gone.
  // Safe from any thread.
  void Signal(int signal);
  // Ends the instance: waits `grace` for it to quit on its own, then SIGTERM, then SIGKILL to
  // the group, and removes the profile directory. True when it quit within the grace period.
  // Idempotent.
  bool Stop(std::chrono::milliseconds grace);

 private:
  // Waits until the launcher is reaped and the group is empty, polling; false at the limit.
  bool WaitGone(std::chrono::milliseconds limit);
  bool GroupGoneLocked();
  // Removes the profile unless it is kept (and not discarded), and frees its slot.
  void ReleaseProfile();

  pid_t pid_ = -1;  // the guarding shell, leader of the office's process group
  int guard_ = -1;  // our end of the guard's socket
  std::string pipe_;
  std::string profile_;
  std::string profileUrl_;
  std::string log_;
  // The slot's lock while the profile is a kept one; the office and its guard inherit it, so
  // the slot stays taken until they are gone, even when this program dies first.
  int lockFd_ = -1;
  bool kept_ = false;
  bool discardProfile_ = false;

  mutable std::mutex mutex_;
  bool reaped_ = false;
  bool groupGone_ = false;
  int status_ = 0;
  bool stopped_ = false;
  bool quitByItself_ = false;
};

// A profile kept in `folder` between starts: slot n is the directory profile-n, taken while a
// lock (flock) on profile-n.lock is held, so that one is never shared by two offices at once.
// The first free of a few slots; its lock's descriptor (close-on-exec) and directory, or -1 when
// none is free or the folder cannot be made.
struct KeptProfile {
  int lockFd = -1;
  std::string dir;
};
KeptProfile TakeKeptProfile(const std::string& folder);

// Makes `dir` a profile with the program's settings in force: settings the office has stored
// there since are kept, a registry file it cannot have written (no closing tag) makes the whole
// profile anew.
void PrepareProfile(const std::string& dir);

// Whether a process of the group is still running. Zombies do not count: a killed office's
// soffice.bin is reaped by init, whenever init gets to it.
bool ProcessGroupAlive(pid_t group);

// Whether the office in `programDir` can show windows: the *-nogui packages have no window
// system plugin, and a visible frame aborts them.
bool WindowSystemPluginInstalled(const std::string& programDir);

// True when DISPLAY names an X server that accepts a connection now.
bool DisplayUsable();

// The file URL of an absolute path, percent-encoded.
std::string FileUrl(const std::string& absolutePath);

}  // namespace velt::lo
