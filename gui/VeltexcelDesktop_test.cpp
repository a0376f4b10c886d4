// The real program on a virtual X display with a tray host: command-line mode against tmsim and
// a visible LibreOffice Calc, one timed pass saved to the file, then the workbook closed in Calc
// the way a user does it, which must end the program and leave no office behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LibreOfficeSpreadsheet.h"
#include "TmsimProcess.h"
#include "VirtualDisplay.h"

namespace velt {
namespace {

using namespace std::chrono_literals;

// A child process that dies with the test and that the test ends by its pid.
struct Child {
  pid_t pid = 0;
  ~Child() { Stop(); }
  void Stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(100ms);
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    pid = 0;
  }
};

pid_t Spawn(const std::vector<std::string>& argv, const std::string& display,
            const std::string& output = "/dev/null") {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (FILE* out = std::fopen(output.c_str(), "w")) {
      dup2(fileno(out), STDOUT_FILENO);
      dup2(fileno(out), STDERR_FILENO);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Output of a command, or "" when it fails.
std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (pclose(p) != 0) return {};
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// Every process below `root`, by the parent links in /proc.
std::set<pid_t> Descendants(pid_t root) {
  std::set<pid_t> found{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      std::getline(stat, line);
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 2));
      char state = 0;
      pid_t parent = 0;
      rest >> state >> parent;
      const pid_t pid = std::stoi(name);
      if (found.count(parent) && !found.count(pid)) {
        found.insert(pid);
        grew = true;
      }
    }
  }
  found.erase(root);
  return found;
}

bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(250ms);
  }
  return condition();
}

TEST(VeltexcelDesktop, CommandLineRunUpdatesSavesAndEndsWhenCalcClosesTheWorkbook) {
  for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/import"})
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("veltexcel_desktop_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string book = (dir / "book.xlsx").string();
  const std::string shots = VELT_SCREENSHOT_DIR;
  std::filesystem::create_directories(shots);

  // A display of our own; Xvfb reports the free number it took.
  testsupport::VirtualDisplay x("1024x768x24");
  ASSERT_FALSE(x.Display().empty()) << "Xvfb did not come up";
  const std::string display = x.Display();

  Child trayer;
  if (access("/usr/bin/trayer", X_OK) == 0)
    trayer.pid = Spawn(
        {"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100"},
        display);

  TmsimProcess tmsim;

  // The workbook: a status and an analog request on the data sheet.
  {
    auto app = LibreOfficeLauncher().Start();
    auto workbook = app->Add();
    auto sheet = workbook->AddWorksheet();
    sheet->SetName("ВЕЛТ");
    sheet->SetCellText(1, 1, "#TC1:1:1");
    sheet->SetCellText(2, 1, "#TT1:1:2");
    workbook->SaveAs(book);
  }

  const std::string ini = (dir / "veltexcel.ini").string();
  std::ofstream(ini) << "[TForm1]\nEdit1_Text=" << tmsim.Address() << "\\TMS\n"
                     << "OpenDialog1_FileName=" << book << "\n"
                     << "RxSpinEdit1_Value=1\nTimer1_Interval=1000\n"
                     << "N8_Checked=True\nN21_Checked=True\n"
                     // Calc reports the close once the document is gone, too late for the
                     // save on close; the values are saved after each pass.
                     << "N9_Checked=False\n";

  Child program;
  program.pid = Spawn({VELTEXCEL, ini}, display, (dir / "veltexcel.log").string());

  // One timed pass, saved to the file.
  const std::string read =
      "/usr/bin/python3 -c \"import openpyxl,sys; ws=openpyxl.load_workbook(sys.argv[1])"
      "['ВЕЛТ']; print(ws['D1'].value, ws['D2'].value)\" '" +
      book + "' 2>/dev/null";
  std::string values;
  EXPECT_TRUE(WaitFor(
      [&] {
        values = Shell(read);
        return values.rfind("1 ", 0) == 0;
      },
      180s))
      << "values in the saved file: " << values;
  EXPECT_NE(values.find(' '), std::string::npos);
  EXPECT_NE(values, "1 None");

  // Calc's window on the display, and the tray menu open beside it.
  const std::string calc =
      Shell("DISPLAY=" + display + " xdotool search --name 'book.xlsx - LibreOffice Calc'");
  ASSERT_FALSE(calc.empty()) << "no Calc window";
  Shell("DISPLAY=" + display + " import -window root '" + shots + "/desktop-command-line.png'");
  if (trayer.pid) {
    // Without a window manager Calc covers the panel: bring it forward first.
    Shell("DISPLAY=" + display + " xdotool search --name '^panel$' windowraise");
    Shell("DISPLAY=" + display + " xdotool mousemove 1012 13 click 3");
    std::this_thread::sleep_for(800ms);
    Shell("DISPLAY=" + display + " import -window root '" + shots + "/desktop-tray-menu.png'");
  }

  // The user closes the workbook in Calc: the program ends about a second later.
  const std::set<pid_t> office = Descendants(program.pid);
  EXPECT_FALSE(office.empty());
  int status = -1;
  bool ended = false;
  // A tray menu still open holds the keyboard and swallows the keys: close it and try again.
  for (int attempt = 0; attempt < 3 && !ended; ++attempt) {
    Shell("DISPLAY=" + display + " xdotool key Escape");
    std::this_thread::sleep_for(1s);
    const std::string window =
        Shell("DISPLAY=" + display + " xdotool search --name 'book.xlsx - LibreOffice Calc'");
    if (!window.empty())
      Shell("DISPLAY=" + display + " xdotool windowfocus --sync " +
            window.substr(0, window.find('\n')) + " key --clearmodifiers ctrl+w");
    ended = WaitFor([&] { return waitpid(program.pid, &status, WNOHANG) == program.pid; }, 20s);
  }
  if (!ended)
    Shell("DISPLAY=" + display + " import -window root '" + shots + "/desktop-not-ended.png'");
  EXPECT_TRUE(ended) << "veltexcel still runs after the workbook was closed; its output:\n"
                     << Shell("cat '" + (dir / "veltexcel.log").string() + "'");
  if (ended) {
    program.pid = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_TRUE(WaitFor(
      [&] {
        for (pid_t pid : office)
          if (Alive(pid)) return false;
        return true;
      },
      20s))
      << "an office process outlived the program";
  EXPECT_EQ(Shell(read).rfind("1 ", 0), 0u);

  program.Stop();
  trayer.Stop();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velt
