// Test doubles for the main window's seams: virtual time and its timers, a view that keeps what
// it was shown, scripted dialogs with a file dialog, a connection that can be made unreachable,
// and a browser that notes its calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MainWindowLogic.h"
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
  bool Connect(const std::string& server, const std::string& client) override {
    connects.push_back(server + " " + client);
    return reachable;
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

}  // namespace velt
