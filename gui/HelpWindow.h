// The help window "Справка": a header line, the help text and a footer with the credit line.
// Created hidden; shown without blocking the main window; closing it only hides it.
#pragma once

#include <QWidget>

#include <array>

class QPlainTextEdit;

namespace velt {

class HelpWindow : public QWidget {
 public:
  static constexpr int kClientWidth = 425;
  static constexpr int kClientHeight = 422;
  static const std::array<const char*, 43> kLines;

  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows the window and brings it forward; never waits.
  void Present();
  // The help text as shown, one line per entry.
  QString Text() const;

 private:
  QPlainTextEdit* text_ = nullptr;
};

}  // namespace velt
