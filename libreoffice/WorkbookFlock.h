// This program's own lock on a workbook: an flock on a hidden file beside it
// (".~veltexcel.NAME#"), held from before the office opens the workbook until it is closed.
// The office's lock file comes and goes (it vanishes for a moment at each save, and two offices
// started at the same instant both find none); no save touches this one, so of two runs started
// together on one workbook exactly one gets it.
#pragma once

#include <memory>
#include <string>

namespace velt::lo {

class WorkbookFlock {
 public:
  ~WorkbookFlock();
  WorkbookFlock(const WorkbookFlock&) = delete;
  WorkbookFlock& operator=(const WorkbookFlock&) = delete;

  // Takes the lock without waiting. Throws WorkbookLockedError naming the holder (program,
  // process, host, since) when another run holds it. A folder where no file can be made (a
  // read-only share) gives no lock and no error: the office's own lock still guards there.
  static std::unique_ptr<WorkbookFlock> Take(const std::string& documentPath);

  static std::string PathFor(const std::string& documentPath);

 private:
  WorkbookFlock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

}  // namespace velt::lo
