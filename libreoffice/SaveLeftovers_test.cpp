// The sweep after an office died during a save, on real files beside a workbook.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "SaveLeftovers.h"
#include "TemporaryDirectory.h"
#include "WorkbookFlock.h"
#include "WorkbookLocked.h"

namespace velt::lo {
namespace {

namespace fs = std::filesystem;

TEST(SaveLeftovers, RemovesOnlyTheOfficesNewTemporaryFile) {
  testsupport::TemporaryDirectory dir("velt-leftovers");
  const fs::path book = dir.path() / "day.xlsx";
  auto make = [&](const std::string& name) { std::ofstream(dir.path() / name) << "x"; };
  make("day.xlsx");
  make("lu1old2.tmp");  // there before the save: a person's office may be saving too
  const SaveLeftovers leftovers(book.string());

  make("lu3q8k9s7d.tmp");  // what the office writes during a save
  make("lu_other_app.tmp");
  make("luX.tmp");
  fs::create_directory(dir.path() / "lunch.tmp");
  make("lunch.tmp/inside");
  fs::create_symlink(dir.path() / "day.xlsx", dir.path() / "lu99.tmp");
  leftovers.RemoveNew("file:///nonexistent/profile");

  EXPECT_FALSE(fs::exists(dir.path() / "lu3q8k9s7d.tmp"));
  for (const char* stays :
       {"day.xlsx", "lu1old2.tmp", "lu_other_app.tmp", "luX.tmp", "lunch.tmp/inside", "lu99.tmp"}) {
    EXPECT_TRUE(fs::exists(dir.path() / stays)) << stays;
  }
}

// Our own lock on a workbook, taken by two processes released at the same instant, many times:
// exactly one gets it each time, and it is gone once its holder lets go.
TEST(WorkbookFlock, OfTwoTakersAtOnceExactlyOneGetsIt) {
  testsupport::TemporaryDirectory dir("velt-flock");
  const std::string book = (dir.path() / "day.xls").string();
  std::ofstream(book) << "x";
  for (int round = 0; round < 100; ++round) {
    int start[2], done[2];
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t children[2];
    for (pid_t& child : children) {
      std::fflush(nullptr);
      child = fork();
      if (child == 0) {
        char byte;
        close(start[1]);
        close(done[1]);
        if (read(start[0], &byte, 1) < 0) _exit(3);
        int code = 0;
        try {
          auto lock = WorkbookFlock::Take(book);
          code = lock ? 0 : 2;
          if (read(done[0], &byte, 1) < 0) _exit(3);  // holds until both have tried
        } catch (const WorkbookLockedError& e) {
          code = e.holder.find("process") != std::string::npos ? 1 : 4;
        }
        _exit(code);
      }
    }
    close(start[0]);
    close(done[0]);
    close(start[1]);  // both go at once
    // The loser ends by itself; then the holder is let go.
    int status = 0, codes[2] = {-1, -1};
    const pid_t first = waitpid(-1, &status, 0);
    codes[0] = WEXITSTATUS(status);
    close(done[1]);
    waitpid(first == children[0] ? children[1] : children[0], &status, 0);
    codes[1] = WEXITSTATUS(status);
    EXPECT_EQ(std::min(codes[0], codes[1]), 0) << round;
    EXPECT_EQ(std::max(codes[0], codes[1]), 1) << round;
    EXPECT_FALSE(std::filesystem::exists(WorkbookFlock::PathFor(book))) << round;
  }
}

}  // namespace
}  // namespace velt::lo
