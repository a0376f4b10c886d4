// veltexcel-update as a process, against a real tmsim and a headless LibreOffice.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "DemoSheet.h"
#include "LibreOfficeSpreadsheet.h"
#include "ScriptedTmServer.h"
#include "TemporaryDirectory.h"
#include "TmsimProcess.h"

namespace velt {
namespace {

// Cell texts by row and column; cells not read are empty.
struct SheetCells {
  std::map<std::pair<int, int>, std::string> texts;
  std::string operator()(int row, int column) const {
    const auto it = texts.find({row, column});
    return it == texts.end() ? std::string() : it->second;
  }
};

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testsupport::ReadFile;

// A child process with stdout and stderr in files and TMPDIR of its own, ended by pid.
class Child {
 public:
  // Messages come in the C locale's English unless the test names another locale.
  Child(const std::vector<std::string>& args, const fs::path& dir, const char* locale = "C")
      : dir_(dir), process_(Options(args, dir, locale)) {}

  // The exit code, or -1 if it did not end within the bound.
  int Wait(std::chrono::seconds bound) { return process_.Wait(bound).value_or(-1); }
  void Signal(int signal) { process_.Signal(signal); }
  std::string Out() const { return ReadFile(dir_ / "stdout"); }
  std::string Err() const { return ReadFile(dir_ / "stderr"); }
  // Whether stdout (or stderr) has said `text` within the bound.
  bool Says(const std::string& text, std::chrono::seconds bound, bool onStderr = false) const {
    const auto said = [&] { return (onStderr ? Err() : Out()).find(text) != std::string::npos; };
    return testsupport::Eventually(said, bound, 50ms);
  }

 private:
  static testsupport::ChildOptions Options(const std::vector<std::string>& args,
                                           const fs::path& dir, const char* locale) {
    fs::create_directories(dir / "tmp");
    testsupport::ChildOptions options;
    options.argv = args;
    options.environment = {{"TMPDIR", (dir / "tmp").string()},
                           {"XDG_CACHE_HOME", (dir / "cache").string()},  // the kept profiles
                           {"LC_ALL", locale},
                           {"LANGUAGE", std::nullopt}};
    options.stdoutFile = (dir / "stdout").string();
    options.stderrFile = (dir / "stderr").string();
    options.endSignal = SIGKILL;
    return options;
  }

  fs::path dir_;
  testsupport::ChildProcess process_;
};

// Processes whose command line mentions text (soffice carries its profile path there).
int ProcessesMentioning(const std::string& text) {
  int found = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const auto name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = ReadFile(entry.path() / "cmdline");
    if (cmdline.find(text) != std::string::npos) ++found;
  }
  return found;
}

class UpdaterProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmsim_ = new TmsimProcess();
    LibreOfficeOptions options;
    options.headless = true;
    launcher_ = new LibreOfficeLauncher(options);
  }
  static void TearDownTestSuite() {
    delete launcher_;
    delete tmsim_;
  }

  void SetUp() override {
    dir_ = temporary_.emplace("veltexcel-updater-process").path();
    workbook_ = (dir_ / "demo.xls").string();
  }
  void TearDown() override {
    // The run's office carries its profile, kept in the cache folder, on its command line.
    EXPECT_EQ(ProcessesMentioning((dir_ / "cache").string()), 0) << "an office was left running";
    if (fs::exists(dir_ / "tmp")) {
      EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "a profile was left";
    }
    temporary_.reset();
  }

  // A cyclic run that has saved a pass ends on SIGTERM, with the workbook filled.
  void ExpectTermEndsItSaved(Child& child) {
    ASSERT_TRUE(child.Says("spreadsheet: ok", 120s)) << child.Err();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(15s), 0) << child.Err();
    EXPECT_EQ(ReadSheet()(20, 4), "9");
  }

  void CreateDemoWorkbook() {
    auto application = launcher_->Start();
    auto workbook = application->Add();
    WriteDemoSheet(*workbook);
    workbook->SaveAs(workbook_);
  }

  std::vector<std::string> Command(const std::string& server, std::vector<std::string> more = {}) {
    std::vector<std::string> args{VELTEXCEL_UPDATE, "--quiet", "--server", server, workbook_};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string Server() const { return tmsim_->Address() + "\\TMS"; }

  // Cells of the sheet "ВЕЛТ" as LibreOffice shows them.
  SheetCells ReadSheet() {
    auto application = launcher_->Start();
    auto workbook = application->Open(workbook_);
    auto sheet = workbook->WorksheetByName("ВЕЛТ");
    SheetCells cells;
    for (int r = 1; r <= kDemoRows; ++r) {
      for (int c = 1; c <= kDemoColumns; ++c) cells.texts[{r, c}] = sheet->CellText(r, c);
    }
    return cells;
  }

  static TmsimProcess* tmsim_;
  static LibreOfficeLauncher* launcher_;
  std::optional<testsupport::TemporaryDirectory> temporary_;
  fs::path dir_;
  std::string workbook_;
};

TmsimProcess* UpdaterProcess::tmsim_ = nullptr;
LibreOfficeLauncher* UpdaterProcess::launcher_ = nullptr;

TEST_F(UpdaterProcess, OnceRunFillsTheDemoWorkbook) {
  CreateDemoWorkbook();
  Child child(Command(Server()), dir_);
  ASSERT_EQ(child.Wait(120s), 0) << child.Err();
  EXPECT_NE(child.Out().find("spreadsheet: ok"), std::string::npos) << child.Out();

  auto cells = ReadSheet();
  // The demo database has no value for #TT1:2:6 (row 8) and none in archive 2 at 13:00 (row 10,
  // column 5); every other requested cell holds a number.
  int markers = 0;
  for (int r = 1; r <= kDemoRows; ++r) {
    for (int c = 1; c <= kDemoColumns; ++c) markers += cells(r, c) == "н\\д";
  }
  EXPECT_EQ(markers, 2);
  EXPECT_EQ(cells(8, 4), "н\\д");
  EXPECT_EQ(cells(10, 5), "н\\д");
  EXPECT_EQ(cells(20, 4), "9");  // #TC1:2:10
  EXPECT_EQ(cells(10, 4), "241.5");
  EXPECT_EQ(cells(13, 5), "1531070");  // #PU1:3:1 at 01.12.2026 09:00
  for (const auto& [r, c] : {std::pair{2, 4}, {3, 4}, {7, 4}, {7, 5}, {12, 2}, {16, 4}, {18, 3}}) {
    EXPECT_FALSE(cells(r, c).empty()) << r << "," << c;
    EXPECT_NE(cells(r, c).find_first_of("0123456789"), std::string::npos) << cells(r, c);
  }
}

TEST_F(UpdaterProcess, WrongServerExitsThreeAndLeavesTheWorkbookAlone) {
  CreateDemoWorkbook();
  const std::string before = ReadFile(workbook_);
  const auto written = fs::last_write_time(workbook_);
  Child child(Command(tmsim_->Address() + "\\WRONG"), dir_);
  EXPECT_EQ(child.Wait(60s), 3) << child.Err();
  EXPECT_EQ(ReadFile(workbook_), before);
  EXPECT_EQ(fs::last_write_time(workbook_), written);
}

TEST_F(UpdaterProcess, MissingWorkbookExitsFourAndCreatesNothing) {
  Child child(Command(Server()), dir_);
  EXPECT_EQ(child.Wait(60s), 4) << child.Err();
  EXPECT_FALSE(fs::exists(workbook_));
}

TEST_F(UpdaterProcess, TermDuringACyclicRunEndsItSaved) {
  CreateDemoWorkbook();
  Child child(Command(Server(), {"--cycle", "1"}), dir_);
  ExpectTermEndsItSaved(child);
}

// A server that answers the handshake and the clock, then only trickles messages, for ever: the
// pass cannot finish, yet SIGTERM ends the run within seconds (the stop's grace, a call's bound
// and the office's shutdown, with slack for a loaded machine).
TEST_F(UpdaterProcess, TermEndsARunWhoseServerNeverAnswers) {
  CreateDemoWorkbook();
  namespace tp = velt::tmproto;
  testsupport::ScriptedTmServer server([](const tp::Request& request, std::optional<uint32_t>,
                                          testsupport::ScriptedTmServer::Peer& peer) {
    if (std::holds_alternative<tp::Hello>(request) ||
        std::holds_alternative<tp::SystemTimeRequest>(request)) {
      peer.Answer(testsupport::NoValueAnswer(request));
      return;
    }
    while (!peer.Over()) {
      peer.Answer(tp::ServerMessage{"busy"});
      std::this_thread::sleep_for(200ms);
    }
  });
  Child child(Command(server.Address() + "\\TMS", {"--cycle", "1"}), dir_);
  ASSERT_TRUE(testsupport::Eventually([&] { return server.Connections() > 0; }, 120s, 50ms));
  std::this_thread::sleep_for(3s);  // into the pass (not an assertion)
  child.Signal(SIGTERM);
  EXPECT_NE(child.Wait(60s), -1) << child.Err();
}

// Two runs started at the same instant on one workbook: never both in it at once. Their offices
// start at their own pace, so the second may well come after the first has finished (both 0);
// when they meet, the later one exits 4 saying who holds the workbook, never 1.
TEST_F(UpdaterProcess, OfTwoRunsStartedTogetherNeitherFailsItsPass) {
  CreateDemoWorkbook();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    Child a(Command(Server()), dir_ / "a");
    Child b(Command(Server()), dir_ / "b");
    const int codeA = a.Wait(240s), codeB = b.Wait(240s);
    EXPECT_TRUE(codeA == 0 || codeA == 4) << codeA << a.Err();
    EXPECT_TRUE(codeB == 0 || codeB == 4) << codeB << b.Err();
    EXPECT_EQ(std::min(codeA, codeB), 0) << a.Err() << b.Err();
    EXPECT_FALSE(fs::exists(dir_ / ".~veltexcel.demo.xls#"));
    fs::remove_all(dir_ / "a");
    fs::remove_all(dir_ / "b");
  }
}

// A loopback socket that listens but never accepts: connections complete and get no answer.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    listen(fd_, 16);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Whether anyone has connected.
  bool Knocked() const {
    const int peer = accept(fd_, nullptr, nullptr);
    if (peer < 0) return false;
    close(peer);
    return true;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST_F(UpdaterProcess, ConnectionFailuresNameTheirCause) {
  std::ofstream(workbook_) << "stand-in";  // never opened: the connection fails first
  SilentListener silent;
  SilentListener closed;
  const std::string nothing = closed.Address();
  closed.Close();
  const struct {
    std::string server;
    const char* says;
  } cases[] = {
      {tmsim_->Address() + "\\WRONG", "the server refused the connection: \"wrong server name"},
      {nothing, "nothing listens at this address"},
      {"no such host!", "the host name cannot be resolved"},  // refused by the resolver, no query
      {silent.Address(), "no answer within the time limit"},
  };
  for (const auto& c : cases) {
    Child child(Command(c.server), dir_);
    EXPECT_EQ(child.Wait(30s), 3) << c.server;
    EXPECT_NE(child.Err().find(c.says), std::string::npos) << child.Err();
  }
  // The people who run it read Russian: in a Russian locale it says the same in Russian.
  Child russian(Command(nothing), dir_, "ru_RU.UTF-8");
  EXPECT_EQ(russian.Wait(30s), 3);
  EXPECT_NE(russian.Err().find("нет связи с сервером ТМ"), std::string::npos) << russian.Err();
}

TEST_F(UpdaterProcess, UnsavableWorkbookIsRefusedBeforeAnyRequest) {
  const fs::path folder = dir_ / "folder";
  fs::create_directories(folder);
  workbook_ = (folder / "demo.xls").string();
  CreateDemoWorkbook();
  SilentListener server;
  const auto noWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const fs::path& readOnly : {fs::path(workbook_), folder}) {
    fs::permissions(readOnly, noWrite, fs::perm_options::remove);
    Child child(Command(server.Address()), dir_);
    EXPECT_EQ(child.Wait(30s), 4) << readOnly;
    fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_NE(child.Err().find(readOnly == folder ? "cannot be written" : "is read-only"),
              std::string::npos)
        << child.Err();
    EXPECT_FALSE(server.Knocked()) << readOnly;
  }
}

TEST_F(UpdaterProcess, CycleRunStartedWithTheServerDownFillsTheWorkbookOnceItIsUp) {
  CreateDemoWorkbook();
  TmsimProcess sim;
  sim.Stop();
  Child child(Command(sim.Address(), {"--cycle", "1"}), dir_);
  ASSERT_TRUE(child.Says("nothing listens", 30s, true)) << child.Err();
  sim.Restart();
  ExpectTermEndsItSaved(child);
}

TEST_F(UpdaterProcess, SingleRunThatLosesItsServerSavesSaysWhenAndExitsThree) {
  CreateDemoWorkbook();
  TmsimProcess sim;
  Child child(Command(sim.Address()), dir_);
  // It connects before it starts its office: once the office runs, the server goes away.
  ASSERT_TRUE(testsupport::Eventually(
      [&] { return ProcessesMentioning((dir_ / "cache").string()) > 0; }, 60s, 10ms));
  sim.Stop();
  EXPECT_EQ(child.Wait(120s), 3) << child.Err();
  EXPECT_TRUE(std::regex_search(
      child.Err(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d veltexcel-update: )"
                              R"(the connection to the TM server was lost)")))
      << child.Err();
  EXPECT_NE(child.Out().find("spreadsheet: ok"), std::string::npos) << child.Out();
  EXPECT_EQ(ReadSheet()(20, 4), "н\\д");  // saved with the markers
}

TEST_F(UpdaterProcess, KilledOrHungUpRunLeavesNoLockAndTheNextRunSucceeds) {
  CreateDemoWorkbook();
  const std::string lock = (dir_ / ".~lock.demo.xls#").string();
  for (const int signal : {SIGKILL, SIGHUP}) {
    {
      fs::remove(dir_ / "stdout");  // the last run's, which said "spreadsheet: ok" too
      Child child(Command(Server(), {"--cycle", "1"}), dir_);
      ASSERT_TRUE(child.Says("spreadsheet: ok", 120s)) << child.Err();
      EXPECT_TRUE(fs::exists(lock)) << signal;
      child.Signal(signal);
      child.Wait(15s);
    }
    // The office's guard ends it and removes its lock within a few seconds.
    EXPECT_TRUE(testsupport::Eventually([&] { return !fs::exists(lock); }, 20s, 50ms)) << signal;
    Child next(Command(Server()), dir_);
    EXPECT_EQ(next.Wait(120s), 0) << next.Err();
  }
}

TEST_F(UpdaterProcess, LockFilesOfGoneOfficesAreRemovedAndLiveOnesRespected) {
  CreateDemoWorkbook();
  const std::string lock = (dir_ / ".~lock.demo.xls#").string();
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const struct {
    const char* profile;
    int exitCode;
    bool lockStays;
  } cases[] = {
      {"file:///tmp/velt-lo-gone00", 0, false},                // one of ours whose office is gone
      {"file:///home/ivanov/.config/libreoffice/4", 4, true},  // a person's office
  };
  for (const auto& c : cases) {
    std::ofstream(lock) << ",ivanov," << host << ",08.12.2026 09:00," << c.profile << ";";
    Child child(Command(Server()), dir_);
    EXPECT_EQ(child.Wait(120s), c.exitCode) << child.Err();
    EXPECT_EQ(fs::exists(lock), c.lockStays) << c.profile;
    if (c.lockStays) {
      EXPECT_NE(child.Err().find("ivanov on " + std::string(host)), std::string::npos)
          << child.Err();
      fs::remove(lock);
    }
  }
}

// Today's date as the file name fields %Y-%m-%d give it.
std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// What a command prints on stdout.
std::string Output(const std::string& command) {
  return testsupport::RunShell(command).out;
}

// Cells of a CSV file by row and column, 1-based: `separator` between cells, texts that hold
// it in double quotes.
SheetCells ReadCsv(const fs::path& path, char separator) {
  SheetCells cells;
  std::istringstream in(ReadFile(path));
  std::string line;
  for (int row = 1; std::getline(in, line); ++row) {
    int column = 1;
    std::string cell;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == separator && !quoted) {
        cells.texts[{row, column++}] = std::exchange(cell, {});
      } else {
        cell += c;
      }
    }
    cells.texts[{row, column}] = cell;
  }
  return cells;
}

TEST_F(UpdaterProcess, DatedPdfXlsxAndCsvFromOneRunHoldWhatTheSheetGot) {
  Child maker({VELTEXCEL_NEW_WORKBOOK, "create", "--demo", workbook_}, dir_);
  ASSERT_EQ(maker.Wait(120s), 0) << maker.Err();
  const std::string before = Today();
  Child child(Command(Server(), {"--save-as", (dir_ / "day-%Y-%m-%d.pdf").string(), "--save-as",
                                 (dir_ / "day-%Y-%m-%d.xlsx").string(), "--save-as",
                                 (dir_ / "day.csv").string()}),
              dir_);
  ASSERT_EQ(child.Wait(180s), 0) << child.Err();
  const std::string after = Today();
  const std::string day = fs::exists(dir_ / ("day-" + before + ".pdf")) ? before : after;
  const fs::path pdf = dir_ / ("day-" + day + ".pdf"), xlsx = dir_ / ("day-" + day + ".xlsx");
  ASSERT_TRUE(fs::exists(pdf));
  ASSERT_TRUE(fs::exists(xlsx));

  // The workbook itself is saved as well, filled.
  const SheetCells cells = ReadSheet();
  EXPECT_EQ(cells(20, 4), "9");
  const std::string text = Output("pdftotext -layout '" + pdf.string() + "' -");
  for (const auto& [r, c] : {std::pair{10, 4}, {13, 5}, {20, 4}, {2, 4}, {7, 5}}) {
    EXPECT_NE(text.find(cells(r, c)), std::string::npos) << r << "," << c << ": " << cells(r, c);
  }
  EXPECT_NE(text.find("н\\д"), std::string::npos);
  const SheetCells csv = ReadCsv(dir_ / "day.csv", ';');
  for (int r = 1; r <= kDemoRows; ++r) {
    for (int c = 1; c <= kDemoColumns; ++c) EXPECT_EQ(csv(r, c), cells(r, c)) << r << "," << c;
  }
  workbook_ = xlsx.string();
  EXPECT_EQ(ReadSheet()(13, 5), cells(13, 5));
}

TEST_F(UpdaterProcess, BadDateFieldOrUnknownExtensionExitsTwoAndWritesNothing) {
  Child maker({VELTEXCEL_NEW_WORKBOOK, "create", workbook_}, dir_);
  ASSERT_EQ(maker.Wait(120s), 0) << maker.Err();
  EXPECT_EQ(ReadSheet()(1, 1), "ТМ адрес");
  SilentListener server;
  const auto written = fs::last_write_time(workbook_);
  for (const char* name : {"day-%Y-%q.pdf", "day.txt"}) {
    Child child(Command(server.Address(), {"--save-as", (dir_ / name).string()}), dir_);
    EXPECT_EQ(child.Wait(30s), 2) << name;
    EXPECT_NE(child.Err().find(name), std::string::npos) << child.Err();
    EXPECT_FALSE(server.Knocked()) << name;
  }
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string file = entry.path().filename().string();
    // "cache" holds the kept office profile of the run that made the workbook.
    EXPECT_TRUE(file == "demo.xls" || file == "tmp" || file == "cache" || file == "stdout" ||
                file == "stderr")
        << file;
  }
  EXPECT_EQ(fs::last_write_time(workbook_), written);
}

TEST_F(UpdaterProcess, FailedPdfExportNamesItAndLeavesTheWorkbookAndTheOtherFilesWritten) {
  CreateDemoWorkbook();
  // A folder where the PDF should go: no user, root included, can write a file there.
  fs::create_directories(dir_ / "report.pdf");
  Child child(Command(Server(), {"--save-as", (dir_ / "report.pdf").string(), "--save-as",
                                 (dir_ / "copy.ods").string()}),
              dir_);
  EXPECT_EQ(child.Wait(180s), 5) << child.Err();
  EXPECT_NE(child.Err().find("writing " + (dir_ / "report.pdf").string() + " failed"),
            std::string::npos)
      << child.Err();
  EXPECT_NE(child.Out().find("spreadsheet: ok, files not written: 1"), std::string::npos)
      << child.Out();
  EXPECT_EQ(ReadSheet()(20, 4), "9");
  workbook_ = (dir_ / "copy.ods").string();
  EXPECT_EQ(ReadSheet()(20, 4), "9");
}

}  // namespace
}  // namespace velt
