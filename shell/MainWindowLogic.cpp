#include "MainWindowLogic.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <fstream>
#include <sstream>
#include <utility>

#include "DesktopLauncher.h"
#include "UpdateSheet.h"

namespace velt {

namespace {

// Sets a flag for the length of a scope, however it ends.
class Scoped {
 public:
  explicit Scoped(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~Scoped() { flag_ = old_; }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

std::string MainView::ClockText() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

class MainWindowLogic::BusyStatus {
 public:
  BusyStatus(MainWindowLogic& logic, const std::string& status)
      : logic_(logic), old_(logic.state_.status), wasBusy_(logic.state_.busy) {
    logic_.state_.busy = true;
    logic_.state_.status = status;
    logic_.Render();
    logic_.view_.RepaintNow();
  }
  ~BusyStatus() {
    logic_.state_.busy = wasBusy_;
    logic_.state_.status = old_;
    logic_.Render();
  }
  BusyStatus(const BusyStatus&) = delete;
  BusyStatus& operator=(const BusyStatus&) = delete;

 private:
  MainWindowLogic& logic_;
  std::string old_;
  bool wasBusy_;
};

MainWindowLogic::MainWindowLogic(const MainWindowSeams& seams, SettingsLocation settings,
                                 int32_t userLcid, LauncherPlaces places)
    : view_(seams.view),
      timer1_(seams.timer1),
      timer2_(seams.timer2),
      dialogs_(seams.dialogs),
      tm_(seams.tm),
      browser_(seams.browser),
      settingsLocation_(std::move(settings)),
      userLcid_(userLcid),
      places_(std::move(places)),
      storage_(settingsLocation_.path),
      workbook_(seams.spreadsheet, seams.dialogs, *this) {
  pb_.SetChangeHandler([this] { view_.ShowProgress(pb_.Position(), pb_.Maximum()); });
  pb_.SetWaitingHandler([this] { view_.KeepPainted(); });
  timer1_.SetInterval(form_.timer1Interval);
  timer1_.SetEnabled(true);
  timer2_.SetEnabled(false);
  Render();
}

MainWindowLogic::~MainWindowLogic() {
  pb_.SetChangeHandler({});
  pb_.SetWaitingHandler({});
}

void MainWindowLogic::Guarded(const std::function<void()>& command) {
  {
    Scoped busy(busy_);
    try {
      command();
    } catch (const std::exception& error) {
      Render();
      dialogs_.ShowError(error.what());
    }
  }
  Render();
  if (!busy_ && !draining_) RunDeferred();
}

void MainWindowLogic::RunDeferred() {
  Scoped draining(draining_);
  while (!deferred_.empty()) {
    auto work = std::move(deferred_.front());
    deferred_.erase(deferred_.begin());
    Guarded(work);
  }
}

void MainWindowLogic::Deliver(std::function<void()> work) {
  if (busy_) {
    deferred_.push_back(std::move(work));
    return;
  }
  Guarded(work);
}

void MainWindowLogic::Render() {
  MainViewState s = state_;
  s.button1Hint = link_.Button1Hint(connected_ ? kHintDisconnect : kHintConnect);
  s.linkLost = link_.Lost();
  s.trayHint = link_.TrayHint(s.caption);
  if (!s.status.empty()) s.trayHint += "\n" + s.status;
  s.speedButton2Enabled = connected_;
  s.bitBtn2Enabled = open_;
  s.button2Enabled = open_;
  s.rxSpinEdit1Enabled = open_;
  s.rxSpinEdit1Value = form_.rxSpinEdit1Value;
  s.edit1Enabled = !connected_;
  s.edit1Text = form_.edit1Text;
  s.n14Enabled = !open_;
  s.recent = recent_.Items();
  s.recentItmEnabled = !open_ && !recent_.Empty();
  s.n17Enabled = open_;
  s.n11Enabled = open_;
  s.n5Enabled = !connected_;
  s.n6Enabled = connected_;
  s.n8Checked = form_.n8Checked;
  s.n9Checked = form_.n9Checked;
  s.n21Checked = form_.n21Checked;
  state_ = std::move(s);
  if (shown_ && *shown_ == state_) return;
  shown_ = state_;
  view_.Show(state_);
}

void MainWindowLogic::LoadSettings() {
  // What this session changed lives in memory until the next save: read the file again only
  // when someone else changed it since it was last read or written here.
  const std::optional<std::string> file = ReadSettingsFile();
  if (storage_.Loaded() && file == settingsSeen_) return;
  form_.placement = view_.Placement();
  storage_.Load(form_, recent_, view_.Screen());
  settingsSeen_ = file;
  view_.ApplyPlacement(form_.placement);
  timer1_.SetInterval(form_.timer1Interval);
}

void MainWindowLogic::OnShow() {
  if (closed_) return;
  Deliver([this] {
    LoadSettings();
    Render();
    if (!settingsLocation_.commandLineMode || connected_) return;
    Connect();
    // Without a stored workbook there is nothing to open; an empty path would only start the
    // spreadsheet application to offer creating a file with no name.
    if (!form_.openDialog1FileName.empty()) OpenPath(form_.openDialog1FileName);
    timer2_.SetInterval(kTimer2OpenMs);
    timer2_.SetEnabled(true);
    if (form_.n8Checked) state_.button2Down = true;
  });
}

void MainWindowLogic::Connect() {
  timer1_.SetEnabled(false);
  state_.button1Down = true;
  Render();
  Result<> up;
  {
    const BusyStatus busy(*this, kStatusConnecting + form_.edit1Text + "...");
    up = tm_.Connect(form_.edit1Text, kClientName);
  }
  if (!up.ok()) {
    state_.button1Down = false;
    Render();
    dialogs_.ShowError(kTextNoServer, up.error().text);
    return;
  }
  connected_ = true;
  link_.Connected(form_.edit1Text);
  Render();
  browser_.Reload();
  timer1_.SetEnabled(true);
}

void MainWindowLogic::Disconnect() {
  tm_.Disconnect();
  browser_.Hide();
  connected_ = false;
  link_.Disconnected();
  state_.button1Down = false;
}

void MainWindowLogic::Button1Click() {
  Guarded([this] {
    if (connected_)
      Disconnect();
    else
      Connect();
  });
}

void MainWindowLogic::N5Click() {
  Guarded([this] {
    if (!connected_) Connect();
  });
}

void MainWindowLogic::N6Click() {
  Guarded([this] {
    if (connected_) Disconnect();
  });
}

void MainWindowLogic::Button2Click(bool downAfterClick) {
  Guarded([this, downAfterClick] {
    state_.button2Down = downAfterClick;
    if (!connected_ && dialogs_.AskYesNo(kTextAskConnect)) Connect();
    if (!(workbook_.SheetReady() && connected_)) return;
    if (form_.n8Checked) {
      state_.button2Down = !cycleToggle_;
      cycleToggle_ = !cycleToggle_;
      return;
    }
    state_.button2Down = true;
    Render();
    // The button comes up again even when the pass fails.
    struct Release {
      MainViewState& s;
      ~Release() { s.button2Down = false; }
    } release{state_};
    TMChanges();
  });
}

void MainWindowLogic::TMChanges() {
  state_.image1Visible = false;
  Render();
  if (!workbook_.SheetReady() || !workbook_.ExAp() || !workbook_.ExWs()) return;
  if (OfficeEnded()) return;
  view_.RepaintNow();
  Scoped passing(inPass_);
  const bool failed =
      !UpdateSheet(*workbook_.ExAp(), userLcid_, *workbook_.ExWs(), pb_, tm_.Operations()).ok();
  if (failed) {
    state_.image1Visible = true;
  } else {
    link_.PassDone(view_.ClockText());
  }
  Render();
  if (failed && OfficeEnded()) return;
  if (form_.n21Checked) SaveAfterPass();
}

void MainWindowLogic::Timer1Timer() {
  if (busy_) return;  // never inside a pass: the timer is off while one runs
  Guarded([this] {
    timer1_.SetEnabled(false);
    timer1_.SetInterval(form_.timer1Interval);
    // Whatever the pass does, the cycle goes on, counted from its end.
    struct Reenable {
      Timer& timer;
      ~Reenable() { timer.SetEnabled(true); }
    } reenable{timer1_};
    if (!connected_) {
      state_.button2Down = false;
      return;
    }
    char systemTime[81] = {};
    // The answer itself is not used; whether there is one tells the link's state.
    link_.Tick(tm_.Operations().tmaSystemTime(systemTime, 0) != 0, view_.ClockText());
    Render();
    if (!state_.button2Down) return;
    if (PassMustWait()) return;
    view_.StartTrayAnimation();
    struct StopAnimation {
      MainView& view;
      ~StopAnimation() { view.StopTrayAnimation(); }
    } stop{view_};
    TMChanges();
  });
}

void MainWindowLogic::RxSpinEdit1Change(int32_t seconds) {
  Guarded([this, seconds] {
    form_.rxSpinEdit1Value = std::clamp(seconds, kCycleMinSeconds, kCycleMaxSeconds);
    form_.timer1Interval = form_.rxSpinEdit1Value * 1000;
    timer1_.SetInterval(form_.timer1Interval);
  });
}

void MainWindowLogic::Edit1Change(const std::string& text) {
  if (!connected_) form_.edit1Text = text;
}

void MainWindowLogic::Timer2Timer() {
  // One-shot: ticks that come while the first one waits for a pass are the same tick.
  if (!timer2_.Enabled()) return;
  timer2_.SetEnabled(false);
  Deliver([this] {
    if (!settingsLocation_.commandLineMode) return;
    if (!view_.WindowVisible())
      view_.CloseWindow();
    else
      view_.HideToTray();
  });
}

void MainWindowLogic::StartCloseTimer(int milliseconds) {
  timer2_.SetInterval(milliseconds);
  timer2_.SetEnabled(true);
}

void MainWindowLogic::SetOpenState(bool open) {
  open_ = open;
  Render();
}

void MainWindowLogic::SetCaption(const std::string& caption) {
  state_.caption = caption;
  Render();
}

void MainWindowLogic::SetOpenFileName(const std::string& path) {
  form_.openFileName = path;
}

void MainWindowLogic::OpenPath(const std::string& path) {
  const BusyStatus busy(*this, kStatusOpening);
  workbook_.ExOpen(path);
}

void MainWindowLogic::N14Click() {
  Guarded([this] {
    if (open_) return;
    const auto path = dialogs_.ChooseWorkbook(form_.openDialog1FileName);
    if (!path || path->empty()) return;
    form_.openDialog1FileName = *path;
    OpenPath(*path);
    recent_.Add(*path);
  });
}

void MainWindowLogic::RecentClick(std::size_t index) {
  Guarded([this, index] {
    if (open_) return;
    const auto path = recent_.Choose(index);
    if (!path) return;
    form_.openDialog1FileName = *path;
    OpenPath(*path);
  });
}

void MainWindowLogic::N17Click() {
  Guarded([this] {
    if (!open_) return;
    LauncherFiles made;
    const auto created = CreateDesktopLauncher(places_, form_.openFileName, form_, &made);
    if (!created.ok())
      dialogs_.ShowError(created.error().text);
    else
      dialogs_.ShowInformation(LauncherCreatedText(made, form_.openFileName));
  });
}

void MainWindowLogic::N11Click() {
  Guarded([this] { workbook_.Close(); });
}

void MainWindowLogic::BitBtn2Click() {
  Guarded([this] { workbook_.ShowOrCreateDataSheet(); });
}

void MainWindowLogic::SpeedButton2Click() {
  Guarded([this] {
    if (connected_) browser_.Show();
  });
}

void MainWindowLogic::N13Click() {
  Guarded([this] { browser_.Show(); });
}

void MainWindowLogic::N8Click() {
  Guarded([this] { form_.n8Checked = !form_.n8Checked; });
}

void MainWindowLogic::N9Click() {
  Guarded([this] { form_.n9Checked = !form_.n9Checked; });
}

void MainWindowLogic::N21Click() {
  Guarded([this] { form_.n21Checked = !form_.n21Checked; });
}

void MainWindowLogic::N20Click() {
  Guarded([this] {
    if (workbook_.SheetReady() && connected_)
      TMChanges();
    else
      dialogs_.ShowError(kTextNoConnection);
  });
}

void MainWindowLogic::N7Click() {
  Guarded([this] { view_.ShowWindow(); });
}

bool MainWindowLogic::OnClose() {
  if (closed_) return true;
  if (!ConfirmCloseWorkbook()) return false;
  closed_ = true;
  timer1_.SetEnabled(false);
  timer2_.SetEnabled(false);
  deferred_.clear();
  if (connected_) {
    tm_.Disconnect();
    connected_ = false;
    link_.Disconnected();
  }
  workbook_.Close();
  form_.placement = view_.Placement();
  // Saved as the window closes, not as it is destroyed.
  form_.placement.visible = false;
  lastSave_ = storage_.Save(form_, recent_, view_.Screen());
  if (lastSave_.ok()) settingsSeen_ = ReadSettingsFile();
  if (!lastSave_.ok()) dialogs_.ShowError(lastSave_.error().text);
  return true;
}

bool MainWindowLogic::PassMustWait() {
  Application* application = workbook_.ExAp();
  bool busy = false;
  try {
    busy = application && application->UserBusy();
  } catch (const SpreadsheetError&) {
    // The pass meets the same failure and reports it its own way.
  }
  // Waiting: the next tick comes soon, and the cycle counts from the pass that then runs.
  if (busy) timer1_.SetInterval(kPassRetryMs);
  return busy;
}

void MainWindowLogic::SaveAfterPass() {
  try {
    workbook_.SaveWorkbook();
    saveFailureShown_ = false;
  } catch (const SpreadsheetError& error) {
    if (OfficeEnded() || saveFailureShown_) return;
    saveFailureShown_ = true;
    dialogs_.ShowNotice(kTextSaveFailed + std::string(error.what()) + kTextSaveRetried);
  }
}

bool MainWindowLogic::OfficeEnded() {
  Application* application = workbook_.ExAp();
  if (!application || application->Running()) return false;
  const std::string path = form_.openFileName;
  workbook_.Abandon();
  if (settingsLocation_.commandLineMode) {
    dialogs_.ShowNotice(kTextOfficeEnded);
    StartCloseTimer(kCloseTimerMs);
  } else if (!path.empty() && dialogs_.AskYesNo(kTextOfficeEndedReopen)) {
    OpenPath(path);
  }
  return true;
}

bool MainWindowLogic::ConfirmCloseWorkbook() {
  if (busy_ || !workbook_.IsOpen()) return true;
  bool close = true;
  Guarded([this, &close] { close = workbook_.ConfirmClose(); });
  return close;
}

std::optional<std::string> MainWindowLogic::ReadSettingsFile() const {
  std::ifstream in(settingsLocation_.path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace velt
