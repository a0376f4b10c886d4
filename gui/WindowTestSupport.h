// What the main window's widget tests need of Qt beyond the shell's fakes.
#pragma once

#include <QEvent>
#include <QObject>

namespace velt::testsupport {

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
