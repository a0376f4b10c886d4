#include "Settings.h"
#include "TemporaryDirectory.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>

#include "IniFile.h"

namespace velt {

// Readable failure messages.
void PrintTo(const MainWindowSettings& s, std::ostream* os) {
  *os << "{server \"" << s.edit1Text << "\", cycle " << s.rxSpinEdit1Value << ", interval "
      << s.timer1Interval << ", N8 " << s.n8Checked << ", N9 " << s.n9Checked << ", N21 "
      << s.n21Checked << ", chosen \"" << s.openDialog1FileName << "\", opened \"" << s.openFileName
      << "\", placement " << (s.placement == WindowPlacement{} ? "none" : "set") << "}";
}

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    path_ = (dir_ / "VeltExcel.ini").string();
  }

  void Write(const std::string& bytes, const std::string& path = {}) {
    std::ofstream out(path.empty() ? path_ : path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Read(const std::string& path = {}) {
    std::ifstream in(path.empty() ? path_ : path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int FilesInDirectory() {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  testsupport::TemporaryDirectory temporary_{"velt-settings"};
  const fs::path& dir_ = temporary_.path();
  std::string path_;
};

MainWindowSettings EveryKeyChanged() {
  MainWindowSettings s;
  s.placement.flags = 2;
  s.placement.showCmd = 3;
  s.placement.pixelsPerInch = 120;
  s.placement.minMaxPos = std::array<int32_t, 4>{-1, -1, -8, -8};
  s.placement.normPos = std::array<int32_t, 4>{100, 200, 444, 300};
  s.placement.visible = true;
  s.edit1Text = "tm-server:5000 = основной; #1";
  s.rxSpinEdit1Value = 37;
  s.timer1Interval = 37000;
  s.n8Checked = false;
  s.n9Checked = false;
  s.n21Checked = true;
  s.openDialog1FileName = "/home/диспетчер/Книги/отчёт (копия).xls";
  s.openFileName = "/home/диспетчер/Книги/сводка.xls";
  return s;
}

TEST_F(SettingsFile, MissingOrEmptyFileGivesFirstStartDefaultsAndNoSaveBeforeALoad) {
  for (bool create : {false, true}) {
    if (create) Write("");
    SettingsStorage storage(path_);
    MainWindowSettings form;
    RecentList recent;
    recent.Add("/stale.xls");
    EXPECT_TRUE(storage.Save(form, recent).ok());
    EXPECT_FALSE(storage.Saved());
    EXPECT_EQ(fs::exists(path_), create);
    const auto result = storage.Load(form, recent);
    EXPECT_EQ(result.ok(), create);
    EXPECT_EQ(form, MainWindowSettings{});
    EXPECT_EQ(form.edit1Text, "Сервер ТМ");
    EXPECT_EQ(form.rxSpinEdit1Value, 10);
    EXPECT_EQ(form.timer1Interval, 5000);
    EXPECT_TRUE(form.n8Checked);
    EXPECT_TRUE(form.n9Checked);
    EXPECT_FALSE(form.n21Checked);
    EXPECT_TRUE(recent.Empty());
    EXPECT_TRUE(storage.Loaded());
  }
}

TEST_F(SettingsFile, EveryKeyRoundTrips) {
  const ScreenSize screen{1920, 1080};
  const MainWindowSettings saved = EveryKeyChanged();
  RecentList recent;
  for (int i = 0; i < 10; ++i) recent.Add("/w/книга " + std::to_string(i) + ".xls");
  {
    SettingsStorage storage(path_);
    MainWindowSettings ignored;
    RecentList none;
    storage.Load(ignored, none, screen);
    const auto result = storage.Save(saved, recent, screen);
    ASSERT_TRUE(result.ok()) << result.error().text;
    EXPECT_TRUE(storage.Saved());
  }
  SettingsStorage storage(path_);
  MainWindowSettings loaded;
  RecentList loadedRecent;
  storage.Load(loaded, loadedRecent, screen);
  EXPECT_EQ(loaded, saved);
  EXPECT_EQ(loadedRecent.Items(), recent.Items());

  // The file itself, as the Windows program expects it: exact names, CRLF, no UTF-8 mark.
  const std::string text = Read();
  EXPECT_EQ(text.rfind("[TForm1]\r\nFormVersion=0\r\n", 0), 0u) << text;
  for (const char* line :
       {"Flags=2\r\n", "ShowCmd=3\r\n", "PixelsPerInch=120\r\n", "MinMaxPos=-1,-1,-8,-8\r\n",
        "MinMaxPos(1920x1080)=-1,-1,-8,-8\r\n", "NormPos=100,200,444,300\r\n",
        "NormPos(1920x1080)=100,200,444,300\r\n", "Visible=True\r\n", "RxSpinEdit1_Value=37\r\n",
        "Timer1_Interval=37000\r\n", "N8_Checked=False\r\n", "N9_Checked=False\r\n",
        "N21_Checked=True\r\n", "\r\n[TForm1.MRUManager1]\r\n", "Item_0=/w/книга 9.xls\r\n",
        "Item_9=/w/книга 0.xls\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST_F(SettingsFile, WindowsFileInWindows1251WithCrlfLoads) {
  // "Сервер ТМ-2" and "C:\Книги\а.xls" in Windows-1251.
  const std::string server = "\xD1\xE5\xF0\xE2\xE5\xF0 \xD2\xCC-2";
  const std::string book = "C:\\\xCA\xED\xE8\xE3\xE8\\\xE0.xls";
  Write(
      "[TForm1]\r\nFormVersion=0\r\nFlags=0\r\nShowCmd=1\r\nPixelsPerInch=96\r\n"
      "MinMaxPos=-1,-1,-1,-1\r\nMinMaxPos(1280x1024)=-1,-1,-1,-1\r\n"
      "NormPos=10,20,370,110\r\nNormPos(1280x1024)=10,20,370,110\r\nVisible=False\r\n"
      "Edit1_Text=" +
      server +
      "\r\nRxSpinEdit1_Value=15\r\nTimer1_Interval=15000\r\n"
      "N8_Checked=False\r\nN9_Checked=True\r\nN21_Checked=True\r\n"
      "OpenDialog1_FileName=" +
      book + "\r\nopenfilename=" + book +
      "\r\n\r\n"
      "[TForm1.MRUManager1]\r\nItem_0=" +
      book +
      "\r\nItem_1=C:\\b.xls\r\n\r\n"
      "[TfrmTMSBrowse]\r\nFont=\xD2\xE0\xF5\xEE\xEC\xE0\r\n");
  SettingsStorage storage(path_);
  MainWindowSettings form;
  RecentList recent;
  storage.Load(form, recent, ScreenSize{1280, 1024});
  EXPECT_EQ(form.edit1Text, "Сервер ТМ-2");
  EXPECT_EQ(form.rxSpinEdit1Value, 15);
  EXPECT_EQ(form.timer1Interval, 15000);
  EXPECT_FALSE(form.n8Checked);
  EXPECT_TRUE(form.n21Checked);
  EXPECT_EQ(form.openFileName, "C:\\Книги\\а.xls");
  EXPECT_EQ(form.openDialog1FileName, "C:\\Книги\\а.xls");
  EXPECT_EQ(form.placement.normPos, (std::array<int32_t, 4>{10, 20, 370, 110}));
  EXPECT_EQ(form.placement.visible, false);
  EXPECT_EQ(recent.Items(), (std::vector<std::string>{"C:\\Книги\\а.xls", "C:\\b.xls"}));

  // Saved back in UTF-8; the other program's section survives, converted.
  ASSERT_TRUE(storage.Save(form, recent).ok());
  const std::string text = Read();
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_NE(text.find("[TfrmTMSBrowse]\r\nFont=Тахома\r\n"), std::string::npos) << text;
}

TEST_F(SettingsFile, ValuesThatDoNotConvertAreIgnored) {
  struct Case {
    const char* line;
    MainWindowSettings expected;
  };
  auto with = [](auto change) {
    MainWindowSettings s;
    change(s);
    return s;
  };
  const Case cases[] = {
      {"RxSpinEdit1_Value=abc", {}},
      {"RxSpinEdit1_Value=1,5", {}},
      {"RxSpinEdit1_Value=nan", {}},
      {"RxSpinEdit1_Value=2.6", with([](auto& s) { s.rxSpinEdit1Value = 3; })},
      {"RxSpinEdit1_Value=5000", with([](auto& s) { s.rxSpinEdit1Value = 1000; })},
      {"RxSpinEdit1_Value=0", with([](auto& s) { s.rxSpinEdit1Value = 1; })},
      {"Timer1_Interval=0", {}},
      {"Timer1_Interval=-5", {}},
      {"Timer1_Interval=99999999999", {}},
      {"Timer1_Interval= 7000 ", with([](auto& s) { s.timer1Interval = 7000; })},
      {"N8_Checked=yes", {}},
      {"N8_Checked=1", {}},
      {"N8_Checked=false", with([](auto& s) { s.n8Checked = false; })},
      {"N21_Checked=TRUE", with([](auto& s) { s.n21Checked = true; })},
      {"NormPos=1,2,3", {}},
      {"NormPos=1,2,3,4,5", {}},
      {"NormPos=1,2,x,4", {}},
      {"NormPos= 1, 2 ,3,4", with([](auto& s) {
         s.placement.normPos = {{1, 2, 3, 4}};
       })},
      {"ShowCmd=normal", {}},
      {"Edit1_Text=   tm1   ", with([](auto& s) { s.edit1Text = "tm1"; })},
      {"Edit1_Text=", with([](auto& s) { s.edit1Text = ""; })},
  };
  for (const auto& c : cases) {
    Write(std::string("[TForm1]\r\n") + c.line + "\r\n");
    SettingsStorage storage(path_);
    MainWindowSettings form;
    RecentList recent;
    storage.Load(form, recent);
    EXPECT_EQ(form, c.expected) << c.line;
  }
}

TEST_F(SettingsFile, PlacementForTheCurrentScreenWins) {
  Write("[TForm1]\r\nNormPos=1,1,1,1\r\nNormPos(800x600)=2,2,2,2\r\nNormPos(1024x768)=bad\r\n");
  struct Case {
    ScreenSize screen;
    int32_t expected;
  };
  for (const Case& c : {Case{{800, 600}, 2}, Case{{1024, 768}, 1}, Case{{0, 0}, 1}}) {
    SettingsStorage storage(path_);
    MainWindowSettings form;
    RecentList recent;
    storage.Load(form, recent, c.screen);
    ASSERT_TRUE(form.placement.normPos);
    EXPECT_EQ((*form.placement.normPos)[0], c.expected) << c.screen.width;
  }
}

// Keys the file lacks keep the values passed in; a negative FormVersion keeps the whole form
// section out (not the recent list); a text with a NUL is ignored; the recent list loads from
// Item_9 down to Item_0, empty and other keys skipped.
TEST_F(SettingsFile, LoadAppliesWhatTheFileHoldsOverTheValuesPassedIn) {
  MainWindowSettings typed;
  typed.n8Checked = false;
  typed.edit1Text = "typed while running";
  MainWindowSettings typedN9Off = typed;
  typedN9Off.n9Checked = false;
  struct Case {
    const char* name;
    std::string bytes;
    MainWindowSettings given = {}, expected = {};
    std::vector<std::string> recent;
  };
  const Case cases[] = {
      {"missing keys", "[TForm1]\r\nN9_Checked=False\r\n", typed, typedN9Off, {}},
      {.name = "negative FormVersion",
       .bytes = "[TForm1]\r\nFormVersion=-1\r\nEdit1_Text=other\r\nN8_Checked=False\r\n"
                "[TForm1.MRUManager1]\r\nItem_0=/a.xls\r\n",
       .recent = {"/a.xls"}},
      {"NUL in a text", "[TForm1]\r\nEdit1_Text=ab\0cd\r\nopenfilename=/a\0.xls\r\n"s, {}, {}, {}},
      {.name = "recent list",
       .bytes = "[TForm1.MRUManager1]\r\nItem_9=/nine.xls\r\nItem_2=/two.xls\r\n"
                "Item_0=/zero.xls\r\nItem_1=\r\nItem_10=/ten.xls\r\nUser_0=data\r\n",
       .recent = {"/zero.xls", "/two.xls", "/nine.xls"}},
  };
  for (const Case& c : cases) {
    Write(c.bytes);
    MainWindowSettings form = c.given;
    RecentList recent;
    SettingsStorage(path_).Load(form, recent);
    EXPECT_EQ(form, c.expected) << c.name;
    EXPECT_EQ(recent.Items(), c.recent) << c.name;
  }
}

TEST_F(SettingsFile, SaveRewritesTheRecentSectionOrDropsItAndKeepsEverythingElse) {
  Write(
      "; written by hand\r\n[TForm1]\r\nEdit1_Text=old\r\nSomeUnknownKey=kept\r\n"
      "Dup=1\r\nDup=2\r\n\r\n[TForm1.MRUManager1]\r\nItem_0=/a.xls\r\nUser_0=x\r\n"
      "Item_7=/stale.xls\r\nUser_7=y\r\n\r\n[Foreign]\r\nk=v ; not a comment\r\n"
      "line without equals\r\n");
  SettingsStorage storage(path_);
  MainWindowSettings form;
  RecentList recent;
  storage.Load(form, recent);
  ASSERT_EQ(recent.Size(), 2u);
  recent.Load({"/a.xls"});
  ASSERT_TRUE(storage.Save(form, recent).ok());
  const std::string text = Read();
  EXPECT_EQ(text.rfind("; written by hand\r\n[TForm1]\r\nEdit1_Text=old\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("SomeUnknownKey=kept\r\nDup=1\r\nDup=2\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[TForm1.MRUManager1]\r\nItem_0=/a.xls\r\n\r\n[Foreign]\r\n"
                      "k=v ; not a comment\r\nline without equals\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("User_"), std::string::npos);
  EXPECT_EQ(text.find("stale"), std::string::npos);
  recent.Clear();
  ASSERT_TRUE(storage.Save(form, recent).ok());
  EXPECT_FALSE(IniDocument::Parse(Read()).HasSection(kRecentSection));
}

TEST_F(SettingsFile, ValueWithALineBreakIsLeftOutAndCannotInjectKeys) {
  SettingsStorage storage(path_);
  MainWindowSettings form;
  RecentList recent;
  storage.Load(form, recent);
  form.openFileName = "/tmp/a\r\n[TForm1]\r\nEdit1_Text=injected\r\n.xls";
  recent.Add("/tmp/b\n.xls");
  recent.Add("/tmp/c.xls");
  const auto result = storage.Save(form, recent);
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(storage.Saved());
  EXPECT_NE(result.value().find("openfilename"), std::string::npos);

  MainWindowSettings loaded;
  RecentList loadedRecent;
  SettingsStorage(path_).Load(loaded, loadedRecent);
  EXPECT_EQ(loaded.edit1Text, "Сервер ТМ");
  EXPECT_EQ(loaded.openFileName, "");
  EXPECT_EQ(loadedRecent.Items(), std::vector<std::string>{"/tmp/c.xls"});
}

TEST(SettingsLocation, ArgumentThenWritableExecutableFolderThenUserConfigFolder) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string executable;
    bool executableFolderWritable;
    std::string xdgConfigHome;
    std::string path;
    bool commandLineMode;
  };
  const Case cases[] = {
      {"PortableCopy",
       {},
       "/opt/velt/bin/VeltExcel",
       true,
       "",
       "/opt/velt/bin/VeltExcel.ini",
       false},
      {"UnknownExecutable", {}, "", false, "", "VeltExcel.ini", false},
      {"InstalledWithoutXdg",
       {},
       "/usr/bin/veltexcel",
       false,
       "",
       "/home/d/.config/veltexcel/VeltExcel.ini",
       false},
      {"InstalledWithXdg",
       {},
       "/usr/bin/veltexcel",
       false,
       "/srv/conf",
       "/srv/conf/veltexcel/VeltExcel.ini",
       false},
      {"RelativeXdgIsIgnored",
       {},
       "/usr/bin/veltexcel",
       false,
       "conf",
       "/home/d/.config/veltexcel/VeltExcel.ini",
       false},
      {"ArgumentWinsOverWritableFolder",
       {"conf/my settings.ini"},
       "/opt/velt/bin/VeltExcel",
       true,
       "",
       "conf/my settings.ini",
       true},
      {"ArgumentWinsOverXdg",
       {" ./a.ini ", "second"},
       "/usr/bin/veltexcel",
       false,
       "/srv/conf",
       " ./a.ini ",
       true},
  };
  for (const auto& c : cases) {
    SettingsEnvironment environment;
    environment.home = "/home/d";
    environment.xdgConfigHome = c.xdgConfigHome;
    environment.folderWritable = [&](const std::string&) { return c.executableFolderWritable; };
    const auto location = ChooseSettingsLocation(c.arguments, c.executable, environment);
    EXPECT_EQ(location.path, c.path) << c.name;
    EXPECT_EQ(location.commandLineMode, c.commandLineMode) << c.name;
  }
}

// Without an argument the file is beside the running executable.
TEST_F(SettingsFile, SettingsNamedOnTheCommandLineAreReadAndWrittenThere) {
  const char* argv0[] = {"whatever"};
  const auto beside = SettingsLocationFromCommandLine(1, argv0);
  EXPECT_FALSE(beside.commandLineMode);
  EXPECT_EQ(beside.path,
            (fs::canonical("/proc/self/exe").parent_path() / "VeltExcel.ini").string());
  const std::string other = (dir_ / "other.ini").string();
  Write("[TForm1]\r\nEdit1_Text=from other\r\n", other);
  const char* argv[] = {"VeltExcel", other.c_str()};
  const auto given = SettingsLocationFromCommandLine(2, argv);
  EXPECT_TRUE(given.commandLineMode);
  SettingsStorage storage(given.path);
  MainWindowSettings form;
  RecentList recent;
  storage.Load(form, recent);
  EXPECT_EQ(form.edit1Text, "from other");
  form.n21Checked = true;
  ASSERT_TRUE(storage.Save(form, recent).ok());
  EXPECT_NE(Read(other).find("N21_Checked=True"), std::string::npos);
  EXPECT_FALSE(fs::exists(path_));
}

// The save is interrupted in a child process, which ends without warning at each stage of the
// write; the old file must come through whole every time.
TEST_F(SettingsFile, CrashDuringSaveLeavesTheOldFileIntact) {
  const std::string old = "[TForm1]\r\nEdit1_Text=old server\r\n";
  for (const char* stage : {"opened", "written", "synced"}) {
    Write(old);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SettingsStorage storage(path_);
      MainWindowSettings form;
      RecentList recent;
      storage.Load(form, recent);
      form.edit1Text = std::string(100000, 'x');
      storage.Save(form, recent, {}, [&](std::string_view at) {
        if (at == stage) ::_exit(0);
        return true;
      });
      ::_exit(1);  // the crash point was never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << stage;
    EXPECT_EQ(Read(), old) << stage;
  }
  // The next save removes the temporary files the crashes left beside the file, and nothing
  // else: files of the user's that merely start with the file's name stay.
  EXPECT_GT(FilesInDirectory(), 1);
  const std::vector<std::string> users = {"VeltExcel.ini.backup", "VeltExcel.ini.2024ok",
                                          "VeltExcel.ini.orig01", "VeltExcel.ini.XXXXXX",
                                          ".VeltExcel.ini.velt-save-1234567"};
  for (const std::string& name : users) Write("mine", (dir_ / name).string());
  SettingsStorage storage(path_);
  MainWindowSettings form;
  RecentList recent;
  storage.Load(form, recent);
  EXPECT_TRUE(storage.Save(form, recent, {}).ok());
  EXPECT_TRUE(storage.Saved());
  EXPECT_EQ(FilesInDirectory(), 1 + static_cast<int>(users.size()));
  for (const std::string& name : users) EXPECT_EQ(Read((dir_ / name).string()), "mine") << name;
}

// A save that fails names the file and leaves the old one as it was, with no temporary file.
TEST_F(SettingsFile, FailedSaveNamesTheFileAndLeavesTheOldOneAndNoTemporaryFile) {
  const std::string old = "[TForm1]\r\nEdit1_Text=old server\r\n";
  Write(old);
  const struct {
    std::string path;
    AtomicWriteProbe probe;
  } cases[] = {
      {path_, [](std::string_view at) { return at != "synced"; }},  // the replace refused
      {(dir_ / "no such folder" / "VeltExcel.ini").string(), {}},
      {path_ + "/VeltExcel.ini", {}},  // a file where a folder should be
  };
  for (const auto& c : cases) {
    SettingsStorage storage(c.path);
    MainWindowSettings form;
    RecentList recent;
    storage.Load(form, recent);
    EXPECT_EQ(form == MainWindowSettings{}, c.path != path_) << c.path;
    form.edit1Text = "new";
    const auto result = storage.Save(form, recent, {}, c.probe);
    EXPECT_FALSE(result.ok()) << c.path;
    EXPECT_NE(result.error().text.find(dir_.string()), std::string::npos) << result.error().text;
    EXPECT_FALSE(storage.Saved());
    EXPECT_EQ(Read(), old);
    EXPECT_EQ(FilesInDirectory(), 1);
  }
}

TEST_F(SettingsFile, SaveFollowsASymbolicLink) {
  const std::string real = (dir_ / "real.ini").string();
  Write("[TForm1]\r\n", real);
  fs::create_symlink(real, path_);
  SettingsStorage storage(path_);
  MainWindowSettings form;
  RecentList recent;
  storage.Load(form, recent);
  form.edit1Text = "through the link";
  ASSERT_TRUE(storage.Save(form, recent).ok());
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_NE(Read(real).find("Edit1_Text=through the link"), std::string::npos);
}

TEST_F(SettingsFile, JunkGivesDefaultsAndIsNeverOverwrittenWhenUnreadable) {
  std::mt19937 random(12345);
  std::string binary(64 * 1024, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  std::string big;
  big.reserve(10 << 20);
  while (big.size() < (10u << 20))
    big += "[TForm1\r\nEdit1_Text\r\n=N8_Checked=maybe\r\n" + binary.substr(0, 997);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"binary", binary},
      {"ten megabytes", big},
      {"nuls", std::string(4096, '\0')},
      {"nul inside a key", "[TForm1]\r\nN8_Che\0cked=False\r\n"s},
      {"only a header", "["},
      {"lone carriage returns", "[TForm1]\rN8_Checked=False\rEdit1_Text=x"},
  };
  for (const auto& c : cases) {
    Write(c.bytes);
    SettingsStorage storage(path_);
    MainWindowSettings form;
    RecentList recent;
    const auto result = storage.Load(form, recent);
    EXPECT_TRUE(result.ok()) << c.name;
    EXPECT_EQ(form, MainWindowSettings{}) << c.name;
    EXPECT_TRUE(recent.Empty()) << c.name;
    // A readable junk file is rewritten with its lines kept and ours added.
    ASSERT_TRUE(storage.Save(form, recent).ok()) << c.name;
    MainWindowSettings again;
    SettingsStorage(path_).Load(again, recent);
    EXPECT_EQ(again, MainWindowSettings{}) << c.name;
  }

  // A directory in its place, or a file too large to be settings: defaults, and not replaced.
  fs::remove(path_);
  fs::create_directory(path_);
  {
    SettingsStorage storage(path_);
    MainWindowSettings form;
    RecentList recent;
    const auto result = storage.Load(form, recent);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.error().text.empty());
    EXPECT_EQ(form, MainWindowSettings{});
    EXPECT_FALSE(storage.Save(form, recent).ok());
    EXPECT_TRUE(fs::is_directory(path_));
  }
  fs::remove(path_);
  Write("[TForm1]\r\nEdit1_Text=huge\r\n");
  fs::resize_file(path_, SettingsStorage::kMaxFileSize + 1);
  {
    SettingsStorage storage(path_);
    MainWindowSettings form;
    RecentList recent;
    EXPECT_FALSE(storage.Load(form, recent).ok());
    EXPECT_EQ(form.edit1Text, "Сервер ТМ");
    EXPECT_FALSE(storage.Save(form, recent).ok());
    EXPECT_EQ(fs::file_size(path_), SettingsStorage::kMaxFileSize + 1);
  }
}

}  // namespace
}  // namespace velt
