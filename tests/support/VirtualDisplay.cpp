#include "VirtualDisplay.h"

#include <X11/Xlib.h>

#include <unistd.h>

#include <cstdlib>

namespace velt::testsupport {

VirtualDisplay::VirtualDisplay(const std::string& screen) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) return;
  // Xvfb writes the number and the line end separately, and dies if the second write finds the
  // pipe closed: the pipe stays open while the server lives.
  ChildOptions options;
  options.argv = {"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", screen};
  options.stdoutPipe = true;
  options.deathSignal = SIGTERM;
  xvfb_ = std::make_unique<ChildProcess>(std::move(options));
  const std::string number = xvfb_->ReadLine(std::chrono::seconds(30));
  if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos)
    display_ = ":" + number;
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
}

bool VirtualDisplay::TrayOwned() const {
  if (display_.empty()) return false;
  ::Display* x = XOpenDisplay(display_.c_str());
  if (!x) return false;
  const Atom tray = XInternAtom(x, "_NET_SYSTEM_TRAY_S0", False);
  const bool owned = XGetSelectionOwner(x, tray) != None;
  XCloseDisplay(x);
  return owned;
}

}  // namespace velt::testsupport
