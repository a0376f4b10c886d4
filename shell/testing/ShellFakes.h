// Test doubles for the main window's seams: virtual time and its timers, a TM layer whose
// requests take virtual time, a view that keeps what it was shown, scripted dialogs with a file
// dialog, a connection that can be made unreachable, a browser that notes its calls, and a
// workbook with a data sheet.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FakeTm.h"
#include "MainWindowLogic.h"
#include "MemorySpreadsheet.h"
#include "WorkbookOperationsFakes.h"

namespace velt {

// Virtual time for the two timers: a timer fires `interval` ms after it was last enabled.
struct Clock {
  int64_t now = 0;
};

class FakeTimer : public Timer {
 public:
  explicit FakeTimer(Clock& clock) : clock_(clock) {}
  void SetInterval(int ms) override {
    interval = ms;
    if (enabled) due = clock_.now + interval;
  }
  void SetEnabled(bool on) override {
    if (on) due = clock_.now + interval;
    enabled = on;
  }
  bool Enabled() const override { return enabled; }

  bool enabled = false;
  int interval = 0;
  int64_t due = 0;

 private:
  Clock& clock_;
};

// Each analog request takes `cost` ms of virtual time and runs `onAnalog`; its start times are
// the pass starts.
class ClockedTm : public FakeTm {
 public:
  explicit ClockedTm(Clock& clock) : clock_(clock) {}
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override {
    passStarts.push_back(clock_.now);
    clock_.now += cost;
    if (onAnalog) onAnalog();
    return FakeTm::tmaAnalog(ch, rtu, point, time, archive);
  }
  int64_t cost = 0;
  std::vector<int64_t> passStarts;
  std::function<void()> onAnalog;

 private:
  Clock& clock_;
};

class FakeView : public MainView {
 public:
  void Show(const MainViewState& state) override { shown = state; }
  void RepaintNow() override {}
  void ShowProgress(int32_t, int32_t) override {}
  void StartTrayAnimation() override { ++animations; }
  void StopTrayAnimation() override {}
  bool WindowVisible() const override { return visible; }
  void HideToTray() override { visible = false; }
  void ShowWindow() override { visible = true; }
  void CloseWindow() override { ++closes; }
  WindowPlacement Placement() const override { return {}; }
  void ApplyPlacement(const WindowPlacement&) override {}
  std::string ClockText() const override { return clockText; }

  MainViewState shown;
  std::string clockText = "10:00:00";
  bool visible = true;
  int animations = 0;
  int closes = 0;
};

// Questions nobody scripted are answered No; the file dialog chooses `chosen`.
class FakeDialogs : public ScriptedDialogsOf<ShellDialogs> {
 public:
  explicit FakeDialogs(std::optional<std::string> workbook = std::nullopt)
      : chosen(std::move(workbook)) {
    otherwise = false;
  }
  std::optional<std::string> ChooseWorkbook(const std::string&) override { return chosen; }

  std::optional<std::string> chosen;
};

class FakeConnection : public TmConnection {
 public:
  explicit FakeConnection(TmOperations& ops) : ops_(ops) {}
  Result<> Connect(const std::string& server, const std::string& client) override {
    connects.push_back(server + " " + client);
    return reachable ? Result<>() : Failure{0, "h:1\\TMS: nothing listens"};
  }
  void Disconnect() override { ++disconnects; }
  TmOperations& Operations() override { return ops_; }

  bool reachable = true;
  std::vector<std::string> connects;
  int disconnects = 0;

 private:
  TmOperations& ops_;
};

class FakeBrowser : public BrowserControl {
 public:
  void Reload() override { calls += "reload "; }
  void Hide() override { calls += "hide "; }
  void Show() override { calls += "show "; }
  std::string calls;
};

// A workbook whose data sheet "ВЕЛТ" asks for #TT1:2:3 in its first `rows` rows.
inline MemoryWorkbookData BookWithDataSheet(int rows = 1) {
  MemoryWorkbookData data;
  MemorySheetData sheet{"ВЕЛТ", {}, {}};
  for (int r = 1; r <= rows; ++r)
    sheet.cells[{r, 1}] = {MemoryCell::Kind::Text, 0, "#TT1:2:3", false};
  data.sheets.push_back(sheet);
  data.activeSheet = "ВЕЛТ";
  return data;
}

}  // namespace velt
