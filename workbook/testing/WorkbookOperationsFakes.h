// Test doubles for the workbook operations: dialogs answered from a script, and a view that
// records what the main window would have been told.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "WorkbookOperations.h"

namespace velt {

// Answers questions from `answers` and notes every message in `shown`. A question with no
// answer left fails the test, unless `otherwise` gives the answer. The shell's dialogs build on
// it, hence the base as a parameter.
template <typename Base = Dialogs>
class ScriptedDialogsOf : public Base {
 public:
  bool AskYesNo(const std::string& text) override {
    shown.push_back("ask: " + text);
    if (duringQuestion) duringQuestion();
    if (answers.empty()) {
      if (otherwise) return *otherwise;
      ADD_FAILURE() << "unexpected question: " << text;
      return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowError(const std::string& text, const std::string& reason) override {
    shown.push_back("error: " + text + (reason.empty() ? "" : " (" + reason + ")"));
  }

  std::deque<bool> answers;
  std::optional<bool> otherwise;
  std::vector<std::string> shown;
  std::function<void()> duringQuestion;
};
using ScriptedDialogs = ScriptedDialogsOf<>;

class RecordingView : public WorkbookView {
 public:
  void SetOpenState(bool open) override { openStates.push_back(open); }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetOpenFileName(const std::string& path) override { openFileName = path; }
  void StartCloseTimer(int milliseconds) override { timers.push_back(milliseconds); }
  bool AutosaveOnExit() const override { return autosave; }

  std::optional<bool> OpenState() const {
    return openStates.empty() ? std::nullopt : std::optional<bool>(openStates.back());
  }

  bool autosave = true;
  std::vector<bool> openStates;
  std::string caption;
  std::string openFileName;
  std::vector<int> timers;
};

}  // namespace velt
