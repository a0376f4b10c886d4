// The process side of an instance, with stand-in launchers instead of LibreOffice.
#include "LibreOfficeProcess.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "Spreadsheet.h"

namespace velt::lo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool GroupAlive(pid_t group) {
  return ProcessGroupAlive(group);
}

class FakeOffice {
 public:
  explicit FakeOffice(const std::string& body) : path_(dir_.File("soffice")) {
    std::ofstream(path_) << "#!/bin/sh\n" << body << "\n";
    chmod(path_.c_str(), 0755);
  }
  const std::string& Path() const { return path_; }

 private:
  testsupport::TemporaryDirectory dir_{"velt-fake-soffice"};
  std::string path_;
};

TEST(OfficeProcess, MissingProgramFailsClearly) {
  try {
    OfficeProcess process("/nonexistent/velt/soffice", true);
    FAIL() << "started";
  } catch (const SpreadsheetError& e) {
    EXPECT_NE(std::string(e.what()).find("not installed"), std::string::npos) << e.what();
  }
}

TEST(OfficeProcess, PassesOwnProfileAndPipeAndSeesTheExit) {
  // The stand-in prints its arguments and quits.
  FakeOffice fake("for a in \"$@\"; do echo \"$a\"; done; exit 3");
  OfficeProcess process(fake.Path(), true);
  std::string profile = process.ProfileDir();
  EXPECT_TRUE(fs::is_directory(profile));
  EXPECT_EQ(process.ProfileUrl(), "file://" + profile);
  ASSERT_TRUE(testsupport::Eventually([&] { return process.HasExited(); }));
  EXPECT_EQ(process.ExitText(), "exit code 3");
  std::string output = process.OutputTail();
  EXPECT_NE(output.find("-env:UserInstallation=" + process.ProfileUrl()), std::string::npos)
      << output;
  EXPECT_NE(output.find("--accept=pipe,name=" + process.PipeName() + ";urp;"), std::string::npos);
  EXPECT_TRUE(process.Stop(1000ms));
  EXPECT_FALSE(fs::exists(profile));
}

// Kept profiles: one per office running at once, left in place for the next start, made anew
// when their settings file was cut short or a start discarded them.
TEST(OfficeProcess, KeptProfilesAreOwnAndOutliveTheOffice) {
  testsupport::TemporaryDirectory folder{"velt-kept"};
  const std::string kept = folder.File("profiles");
  FakeOffice fake("exec sleep 60");
  const auto settings = [](const std::string& profile) {
    return testsupport::ReadFile(profile + "/user/registrymodifications.xcu");
  };
  auto first = std::make_unique<OfficeProcess>(fake.Path(), true, kept);
  OfficeProcess second(fake.Path(), true, kept);
  ASSERT_TRUE(first->ProfileKept());
  ASSERT_TRUE(second.ProfileKept());
  EXPECT_NE(first->ProfileDir(), second.ProfileDir());
  const std::string profile = first->ProfileDir();
  EXPECT_NE(settings(profile).find("MacroSecurityLevel"), std::string::npos);
  std::ofstream(profile + "/user/made-by-the-office") << "x";
  first.reset();
  EXPECT_TRUE(fs::exists(profile + "/user/made-by-the-office"));

  struct Case {
    const char* name;
    std::string settingsText;  // written into the profile before the start; empty: left alone
    bool kept;                 // whatever else the office left there is still there
  };
  const Case cases[] = {
      {"as the office left it", "", true},
      {"settings cut short", "<?xml version=\"1.0\"?><oor:items", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(profile + "/user/made-by-the-office") << "x";
    if (!c.settingsText.empty()) {
      std::ofstream(profile + "/user/registrymodifications.xcu") << c.settingsText;
    }
    OfficeProcess again(fake.Path(), true, kept);
    EXPECT_EQ(again.ProfileDir(), profile);  // the slot is free again
    EXPECT_EQ(fs::exists(profile + "/user/made-by-the-office"), c.kept);
    EXPECT_NE(settings(profile).find("MacroSecurityLevel"), std::string::npos);
    EXPECT_NE(settings(profile).find("</oor:items>"), std::string::npos);
  }
  {
    OfficeProcess discarded(fake.Path(), true, kept);
    discarded.DiscardKeptProfile();
    discarded.Stop(0ms);
  }
  EXPECT_FALSE(fs::exists(profile));
}

TEST(OfficeProcess, OurUnoBootstrapStaysWithUs) {
  setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:/somewhere/fundamentalrc", 1);
  setenv("VELT_TEST_MARK", "passed on", 1);
  FakeOffice fake("echo \"[$URE_BOOTSTRAP] [$VELT_TEST_MARK]\"");
  OfficeProcess process(fake.Path(), true);
  ASSERT_TRUE(testsupport::Eventually([&] { return process.HasExited(); }));
  EXPECT_EQ(process.OutputTail(), "[] [passed on]");
  unsetenv("URE_BOOTSTRAP");
  unsetenv("VELT_TEST_MARK");
}

TEST(OfficeProcess, HeadlessOnlyWhenAsked) {
  FakeOffice fake("echo \"$@\"");
  OfficeProcess headless(fake.Path(), true);
  OfficeProcess windowed(fake.Path(), false);
  ASSERT_TRUE(
      testsupport::Eventually([&] { return headless.HasExited() && windowed.HasExited(); }));
  EXPECT_NE(headless.OutputTail().find("--headless"), std::string::npos);
  EXPECT_EQ(windowed.OutputTail().find("--headless"), std::string::npos);
}

TEST(OfficeProcess, EveryInstanceHasItsOwnPipeAndProfile) {
  FakeOffice fake("exit 0");
  OfficeProcess a(fake.Path(), true);
  OfficeProcess b(fake.Path(), true);
  EXPECT_NE(a.PipeName(), b.PipeName());
  EXPECT_NE(a.ProfileDir(), b.ProfileDir());
}

TEST(OfficeProcess, StopEndsAGroupThatIgnoresTerm) {
  // A launcher whose child ignores SIGTERM, as a hung office might: the group must still end.
  FakeOffice fake("trap '' TERM; sh -c \"trap '' TERM; sleep 600\" & wait");
  OfficeProcess process(fake.Path(), true);
  pid_t group = process.Pid();
  std::string profile = process.ProfileDir();
  std::this_thread::sleep_for(200ms);  // time for both shells to set their traps
  ASSERT_TRUE(GroupAlive(group));
  EXPECT_FALSE(process.Stop(100ms));  // did not quit by itself
  EXPECT_FALSE(GroupAlive(group));
  EXPECT_FALSE(fs::exists(profile));
}

TEST(OfficeProcess, DestructorLeavesNothing) {
  pid_t group;
  std::string profile;
  {
    FakeOffice fake("sleep 600");
    OfficeProcess process(fake.Path(), true);
    group = process.Pid();
    profile = process.ProfileDir();
    ASSERT_TRUE(GroupAlive(group));
  }
  EXPECT_FALSE(GroupAlive(group));
  EXPECT_FALSE(fs::exists(profile));
}

// The program is killed without a chance to end its office: the office goes all the same,
// with its profile and sockets.
TEST(OfficeProcess, OfficeDoesNotOutliveAKilledProgram) {
  FakeOffice fake("trap '' TERM; sh -c \"trap '' TERM; sleep 600\" & sleep 600");
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t program = fork();
  if (program == 0) {
    close(report[0]);
    OfficeProcess process(fake.Path(), true);
    std::string line = std::to_string(process.Pid()) + " " + process.ProfileDir() + "\n";
    if (write(report[1], line.data(), line.size()) < 0) _exit(2);
    std::this_thread::sleep_for(300ms);
    kill(getpid(), SIGKILL);
  }
  close(report[1]);
  char buffer[512] = {};
  ASSERT_GT(read(report[0], buffer, sizeof buffer - 1), 0);
  close(report[0]);
  waitpid(program, nullptr, 0);
  std::istringstream in(buffer);
  pid_t group = 0;
  std::string profile;
  in >> group >> profile;
  ASSERT_GT(group, 0);
  EXPECT_TRUE(fs::exists(profile));
  EXPECT_TRUE(testsupport::Eventually([&] { return !GroupAlive(group) && !fs::exists(profile); },
                                      15s, 50ms));
}

TEST(FileUrl, EncodesWhatAUrlCannotHold) {
  EXPECT_EQ(FileUrl("/tmp/a b/ВЕЛТ#1.xls"), "file:///tmp/a%20b/%D0%92%D0%95%D0%9B%D0%A2%231.xls");
  EXPECT_EQ(FileUrl("/tmp/velt-lo-AbC_1.~x"), "file:///tmp/velt-lo-AbC_1.~x");
}

TEST(WindowSystemPlugin, FoundOnlyWhereAPluginIs) {
  const testsupport::TemporaryDirectory temporary("velt-program");
  const std::string dir = temporary.path().string();
  EXPECT_FALSE(WindowSystemPluginInstalled(dir));
  std::ofstream(dir + "/libvclplug_genlo.so") << "";
  EXPECT_TRUE(WindowSystemPluginInstalled(dir));
  EXPECT_FALSE(WindowSystemPluginInstalled(dir + "/missing"));
}

TEST(DisplayUsable, FalseWithoutAServer) {
  const char* saved = std::getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  setenv("DISPLAY", ":97531", 1);
  EXPECT_FALSE(DisplayUsable());
  unsetenv("DISPLAY");
  EXPECT_FALSE(DisplayUsable());
  if (saved) setenv("DISPLAY", keep.c_str(), 1);
}

}  // namespace
}  // namespace velt::lo
