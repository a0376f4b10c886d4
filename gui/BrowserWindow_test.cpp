// The browser window driven like a user on the offscreen platform, over a scripted TM layer.
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "BrowserQSettings.h"
#include "BrowserWindow.h"
#include "FakeTm.h"
#include "TrendPane.h"

namespace velt {

// The real window with the drag loop and the font dialog answered by the test.
class TestWindow : public BrowserWindow {
 public:
  using BrowserWindow::BrowserWindow;
  void RunTextDrag(const std::string& text) override { drags.push_back(text); }
  std::optional<PanelFont> ChooseFont(const PanelFont&) override { return fontChoice; }
  std::vector<std::string> drags;
  std::optional<PanelFont> fontChoice;
};

class BrowserWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settingsDir_;
  FakeTm tm_;

  static QTreeWidget* Tree(QWidget& w) {
    return w.findChild<QTreeWidget*>(QStringLiteral("HETreeView1"));
  }
  static QTableWidget* List(QWidget& w) {
    return w.findChild<QTableWidget*>(QStringLiteral("ListView1"));
  }
  static QString Name(QWidget& w, int row) { return List(w)->item(row, 1)->text(); }
  static QList<QModelIndex> SelectedRows(QWidget& w) {
    return List(w)->selectionModel()->selectedRows();
  }
  static QLineEdit* Search(QWidget& w) { return w.findChild<QLineEdit*>(QStringLiteral("Edit1")); }

  static void ShowAndWaitForTree(TestWindow& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(Tree(w)->topLevelItemCount() > 0);
  }
  // Expands channel 1, RTU 2 and clicks its kind node with the mouse.
  static void ClickKind(TestWindow& w, int kind) {
    QTreeWidget* tree = Tree(w);
    QTreeWidgetItem* rtu = tree->topLevelItem(0)->child(0);
    tree->expandItem(tree->topLevelItem(0));
    tree->expandItem(rtu);
    QTreeWidgetItem* item = rtu->child(kind);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  }
  static QPoint RowCenter(QTableWidget* list, int row) {
    return list->visualItemRect(list->item(row, 1)).center();
  }
  static void Move(QWidget* target, QPoint at, Qt::MouseButtons buttons,
                   Qt::KeyboardModifiers modifiers) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::NoButton,
                     buttons, modifiers);
    QApplication::sendEvent(target, &move);
  }
  static QStringList StoredKeys() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwell"),
                       QStringLiteral("Dorvan"));
    settings.beginGroup(QStringLiteral("CurrentVersion/TMSBrowse"));
    return settings.allKeys();
  }
  static void ClearStored() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwell"),
                       QStringLiteral("Dorvan"));
    settings.clear();
  }

 private slots:
  void initTestCase() {
    QVERIFY(settingsDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    tm_.AddChannel(1, "Север");
    tm_.AddRtu(1, 2, "ПС Заречная");
    tm_.AddPoint(kClassAnalog, 1, 2, 3, "Ток Т1");
    tm_.AddPoint(kClassAnalog, 1, 2, 4, "Ток Т2");
    tm_.AddPoint(kClassAnalog, 1, 2, 5, "Напряжение");
    tm_.AddPoint(kClassStatus, 1, 2, 10, "Выключатель");
  }
  void init() { ClearStored(); }

  void mouseClickAndKeyboardMovesList() {
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    ClickKind(w, 1);  // ТИТ
    QCOMPARE(List(w)->rowCount(), 3);
    QCOMPARE(Name(w, 0), QStringLiteral("Ток Т1"));
    QTest::keyClick(Tree(w), Qt::Key_Up);  // onto ТС
    QCOMPARE(Tree(w)->currentItem()->text(0), QStringLiteral("ТС"));
    QCOMPARE(List(w)->rowCount(), 1);
    QCOMPARE(Name(w, 0), QStringLiteral("Выключатель"));
  }

  // A press on one of several selected points, then small steps: the list's own sweep must
  // not replace the selection before the drag begins; a plain click still selects one.
  void dragCarriesTheWholeSelectionInSmallSteps() {
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    ClickKind(w, 1);
    QTableWidget* list = List(w);
    list->selectAll();
    const QPoint start = RowCenter(list, 1);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, start);
    for (int step = 2; step <= 14 && w.drags.empty(); step += 2)
      Move(list->viewport(), start + QPoint(step, step / 2), Qt::LeftButton, {});
    QCOMPARE(w.drags.size(), size_t{1});
    QCOMPARE(w.drags[0], std::string("#TT1:2:3\r\n#TT1:2:4\r\n#TT1:2:5"));
    QCOMPARE(list->selectionModel()->selectedRows().size(), 3);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCenter(list, 2));
    QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(Name(w, list->selectionModel()->selectedRows().constFirst().row()),
             QStringLiteral("Напряжение"));
  }

  void copyPutsTheSelectionTextOnTheClipboard() {
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    ClickKind(w, 1);
    QTableWidget* list = List(w);
    for (int row : {2, 0}) {
      list->selectionModel()->select(list->model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    for (QAction* action : w.findChildren<QAction*>()) {
      if (action->text() == QStringLiteral("Поместить в буфер обмена")) action->trigger();
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#TT1:2:3\r\n#TT1:2:5"));

    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCenter(list, 1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, RowCenter(list, 1));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#TT1:2:4"));
  }

  void dragStartsOnlyForAPlainLeftMoveOfMoreThanTenPixels_data() {
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<Qt::MouseButtons>("buttons");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("drags");
    const Qt::MouseButtons left = Qt::LeftButton;
    QTest::newRow("10 right, 10 down") << 10 << 10 << left << Qt::KeyboardModifiers() << false;
    QTest::newRow("11 right") << 11 << 0 << left << Qt::KeyboardModifiers() << true;
    QTest::newRow("11 down") << 0 << 11 << left << Qt::KeyboardModifiers() << true;
    QTest::newRow("Ctrl") << 20 << 0 << left << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
    QTest::newRow("right button") << 20 << 0 << Qt::MouseButtons(Qt::RightButton)
                                  << Qt::KeyboardModifiers() << false;
  }
  void dragStartsOnlyForAPlainLeftMoveOfMoreThanTenPixels() {
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(Qt::MouseButtons, buttons);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, drags);
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    ClickKind(w, 1);
    QTableWidget* list = List(w);
    const QPoint start = RowCenter(list, 0);
    const Qt::MouseButton button =
        buttons.testFlag(Qt::LeftButton) ? Qt::LeftButton : Qt::RightButton;
    QTest::mousePress(list->viewport(), button, modifiers, start);
    Move(list->viewport(), start + QPoint(dx, dy), buttons, modifiers);
    QCOMPARE(w.drags.size(), drags ? size_t{1} : size_t{0});
    if (drags) QCOMPARE(w.drags[0], std::string("#TT1:2:3"));
    QTest::mouseRelease(list->viewport(), button, modifiers, start + QPoint(dx, dy));
  }

  void dropOnTheSearchBoxReplacesItsTextAndWaitsForEnter() {
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    QLineEdit* edit = Search(w);
    edit->setText(QStringLiteral("old text"));

    QMimeData other;
    other.setData(QStringLiteral("application/x-other"), "x");
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &other, Qt::LeftButton,
                            Qt::ShiftModifier);
    QApplication::sendEvent(edit, &refused);
    QVERIFY(!refused.isAccepted());

    QMimeData text;
    text.setText(QStringLiteral("#TT1:2:4\r\n#TT1:2:5"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &text, Qt::LeftButton,
                          Qt::ShiftModifier);
    QApplication::sendEvent(edit, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(edit, &drop);
    QCOMPARE(edit->text(), QStringLiteral("#TT1:2:4"));
    QCOMPARE(List(w)->rowCount(), 0);  // nothing searched yet

    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(List(w)->rowCount(), 3);
    QCOMPARE(SelectedRows(w).size(), 1);
    QCOMPARE(Name(w, SelectedRows(w)[0].row()), QStringLiteral("Ток Т2"));
    QVERIFY(List(w)->hasFocus());
  }

  void settingsAreWrittenOnlyWhenTheWindowWasShown() {
    {
      BrowserQSettings settings;
      TestWindow w(tm_, settings);
      w.ReloadClick();
    }
    QVERIFY(StoredKeys().isEmpty());
    {
      BrowserQSettings settings;
      TestWindow w(tm_, settings);
      ShowAndWaitForTree(w);
    }
    QVERIFY(StoredKeys().contains(QStringLiteral("Panel1_FontSize")));
    QCOMPARE(QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwell"),
                       QStringLiteral("Dorvan"))
                 .value(QStringLiteral("CurrentVersion/TMSBrowse/Visible"))
                 .toString(),
             QStringLiteral("1"));
  }

  void valuesFilterAndTrendOfTheListedPoints() {
    tm_.SetAnalog(1, 2, 3, 12.5f);
    tm_.SetAnalogFallback(
        [](const TmBatchRequest& r) { return r.time == "N/A" ? FakeTm::NoAnalog() : 7.0f; });
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    ClickKind(w, 1);
    QTRY_COMPARE(List(w)->item(0, 2)->text().replace(QLatin1Char(','), QLatin1Char('.')),
                 QStringLiteral("12.5"));
    QCOMPARE(List(w)->item(1, 2)->text(), QStringLiteral("н\\д"));

    // QTest types Latin-1 only: the Cyrillic letter arrives as an input method would give it.
    w.findChild<QLineEdit*>(QStringLiteral("ListFilter"))->insert(QStringLiteral("т2"));
    QCOMPARE(List(w)->isRowHidden(0), true);
    QCOMPARE(List(w)->isRowHidden(1), false);
    QCOMPARE(List(w)->isRowHidden(2), true);

    QTest::mouseClick(List(w)->viewport(), Qt::LeftButton, {}, RowCenter(List(w), 1));
    auto* trend = w.findChild<TrendPane*>();
    QCOMPARE(trend->LineCount(), 1);
    QCOMPARE(trend->PointCount(), 24);

    w.close();
    QVERIFY(StoredKeys().contains(QStringLiteral("ListView1_ColumnWidths")));
    QVERIFY(StoredKeys().contains(QStringLiteral("TrendPane_Visible")));
  }

  void aFontKeptByACloseButNotByADisconnection() {
    BrowserQSettings settings;
    TestWindow w(tm_, settings);
    ShowAndWaitForTree(w);
    PanelFont chosen = w.Logic().Font();
    chosen.size = 17;
    w.fontChoice = chosen;
    w.Logic().ChangeFontClick();
    QCOMPARE(List(w)->font().pointSize(), 17);
    w.close();
    w.show();
    QCOMPARE(List(w)->font().pointSize(), 17);

    PanelFont other = chosen;
    other.size = 23;
    w.fontChoice = other;
    w.Logic().ChangeFontClick();
    QCOMPARE(List(w)->font().pointSize(), 23);
    w.HideForDisconnection();
    w.show();
    QCOMPARE(List(w)->font().pointSize(), 17);
  }
};

}  // namespace velt

QTEST_MAIN(velt::BrowserWindowTest)
#include "BrowserWindow_test.moc"
