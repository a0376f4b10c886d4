#include "VirtualDisplay.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace velt::testsupport {

VirtualDisplay::VirtualDisplay(const std::string& screen) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) return;
  int ready[2];
  if (pipe(ready) != 0) return;
  const std::string fd = std::to_string(ready[1]);
  pid_ = fork();
  if (pid_ == 0) {
    close(ready[0]);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
          screen.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  // Xvfb writes the number and the line end separately, and dies if the second write finds the
  // pipe closed: read up to the line end before closing.
  std::string number;
  char c = 0;
  while (pid_ > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  close(ready[0]);
  if (c == '\n' && !number.empty()) display_ = ":" + number;
  const char* saved = std::getenv("DISPLAY");
  hadDisplay_ = saved != nullptr;
  if (saved) saved_ = saved;
  if (!display_.empty()) setenv("DISPLAY", display_.c_str(), 1);
}

VirtualDisplay::~VirtualDisplay() {
  if (hadDisplay_) {
    setenv("DISPLAY", saved_.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace velt::testsupport
