// The real browser window on a virtual X display (an Xvfb of its own) against tmsim with the
// demo database: reload, find #TT1:2:3 (which expands its RTU and lists its analog points with
// their values), find #TT1:1:1, whose trend over the last 24 h must be one line without a gap;
// then the window's picture is saved to the path given on the command line. Last, xdotool drags
// the first list item onto the search box with the real pointer.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "BrowserQSettings.h"
#include "BrowserWindow.h"
#include "ChildProcess.h"
#include "TmsimProcess.h"
#include "TrendPane.h"
#include "VirtualDisplay.h"
#include "tmaccess.h"

namespace {

// Runs xdotool with the arguments (separated by spaces) and waits for it; Qt's event loop runs
// meanwhile, so the drag it drives is served.
bool RunXdotool(const std::string& args) {
  velt::testsupport::ChildOptions options;
  options.argv = {"xdotool"};
  std::istringstream words(args);
  for (std::string word; words >> word;) options.argv.push_back(word);
  velt::testsupport::ChildProcess xdotool(std::move(options));
  std::optional<int> code;
  while (!(code = xdotool.Poll())) QTest::qWait(20);
  return *code == 0;
}

int Fail(const char* what) {
  std::fprintf(stderr, "browser_screenshot_test: %s\n", what);
  return 1;
}

int Run(int argc, char** argv) {
  velt::TmsimProcess sim;
  velt::TmAccess tm;
  if (tm.tmaConnect(sim.Address(), "$Excel$") == 0) return Fail("no connection to tmsim");

  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  QTemporaryDir settingsDir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  velt::BrowserQSettings settings;
  velt::BrowserWindow window(tm, settings);
  window.resize(900, 640);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return Fail("the window was never exposed");
  auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("HETreeView1"));
  auto* list = window.findChild<QTableWidget*>(QStringLiteral("ListView1"));
  auto* trend = window.findChild<velt::TrendPane*>();
  auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Edit1"));
  if (!QTest::qWaitFor([&] { return tree->topLevelItemCount() > 0; })) {
    return Fail("the queued reload gave no tree");
  }
  QTest::keyClicks(edit, QStringLiteral("#TT1:2:3"));
  QTest::keyClick(edit, Qt::Key_Return);
  if (list->rowCount() == 0 || list->selectionModel()->selectedRows().size() != 1) {
    return Fail("find listed nothing");
  }
  // Values of the rows in view: asked as the list is filled. The deadline is generous, for a
  // loaded machine; the time taken is printed.
  QElapsedTimer clock;
  clock.start();
  const auto valued = [&] {
    for (int row = 0; row < list->rowCount(); ++row) {
      const QString text = list->item(row, 2)->text();
      if (text.isEmpty() ||
          (row != 5 && !text.contains(QRegularExpression(QStringLiteral("^[-0-9]"))))) {
        return false;
      }
    }
    return list->item(5, 2)->text() == QStringLiteral("н\\д");  // #TT1:2:6 has no value
  };
  if (!QTest::qWaitFor(valued, 10000)) return Fail("the list shows no values");
  std::printf("values in the list after %lld ms\n", static_cast<long long>(clock.elapsed()));

  edit->clear();
  QTest::keyClicks(edit, QStringLiteral("#TT1:1:1"));
  QTest::keyClick(edit, Qt::Key_Return);
  if (!QTest::qWaitFor([&] { return trend->PointCount() > 0; }, 10000)) {
    return Fail("no trend of #TT1:1:1");
  }
  if (trend->LineCount() != 1 || trend->PointCount() != 24) {
    std::fprintf(stderr, "lines %d, points %d\n", trend->LineCount(), trend->PointCount());
    return Fail("the 24 h trend of #TT1:1:1 has a gap");
  }
  QTest::qWait(300);

  const QImage shot = window.grab().toImage();
  const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("browser.png");
  if (!shot.save(path)) return Fail("cannot save the picture");
  std::printf("saved %s (%dx%d)\n", path.toLocal8Bit().constData(), shot.width(), shot.height());

  // A real drag: press on the first item, move past the 10-pixel threshold, drop on the box.
  const QPoint from =
      list->viewport()->mapToGlobal(list->visualItemRect(list->item(0, 1)).center());
  const QPoint to = edit->mapToGlobal(edit->rect().center());
  const auto at = [](int x, int y) { return std::to_string(x) + " " + std::to_string(y); };
  if (!RunXdotool("mousemove " + at(from.x(), from.y()) + " sleep 0.3 mousedown 1 sleep 0.3 " +
                  "mousemove " + at(from.x() + 30, from.y()) + " sleep 0.3 mousemove " +
                  at(to.x(), to.y()) + " sleep 0.3 mousemove " + at(to.x() + 2, to.y()) +
                  " sleep 0.3 mouseup 1")) {
    return Fail("xdotool failed");
  }
  if (!QTest::qWaitFor([&] { return edit->text() == QStringLiteral("#TT1:1:1"); }, 5000)) {
    std::fprintf(stderr, "search box: %s\n", edit->text().toLocal8Bit().constData());
    return Fail("the dragged address did not reach the search box");
  }
  tm.tmaDisconnect();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  velt::testsupport::VirtualDisplay x;
  if (x.Display().empty()) return Fail("cannot start Xvfb");
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
