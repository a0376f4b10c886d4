// An X server of the test's own (Xvfb on a display number it picks itself), with DISPLAY
// pointing at it while the object lives. The server ends with the object, by its process id,
// and with the test process should that die first.
#pragma once

#include <memory>
#include <string>

#include "ChildProcess.h"

namespace velt::testsupport {

class VirtualDisplay {
 public:
  explicit VirtualDisplay(const std::string& screen = "1280x1024x24");
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // ":N", or empty when Xvfb is missing or did not come up.
  const std::string& Display() const { return display_; }
  // Whether a notification area (a system tray) holds the screen's tray selection now.
  bool TrayOwned() const;

 private:
  std::unique_ptr<ChildProcess> xvfb_;
  std::string display_;
  std::string saved_;
  bool hadDisplay_ = false;
};

}  // namespace velt::testsupport
