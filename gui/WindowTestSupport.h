// Stand-ins the main window's widget tests share.
#pragma once

#include <QEvent>
#include <QObject>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MainWindowLogic.h"

namespace velt::testsupport {

// A browser that is never shown.
class QuietBrowser : public BrowserControl {
 public:
  void Reload() override {}
  void Hide() override {}
  void Show() override {}
};

// Answers No to every question, notes every error, and chooses `workbook` in the file dialog.
class NoSayingDialogs : public ShellDialogs {
 public:
  explicit NoSayingDialogs(std::string workbook) : workbook_(std::move(workbook)) {}
  bool AskYesNo(const std::string&) override { return false; }
  void ShowError(const std::string& text, const std::string&) override { errors.push_back(text); }
  std::optional<std::string> ChooseWorkbook(const std::string&) override { return workbook_; }
  std::vector<std::string> errors;

 private:
  std::string workbook_;
};

// Counts the paints of the widget it filters.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

}  // namespace velt::testsupport
