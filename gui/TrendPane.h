// The browser's trend pane: the span and archive choices and a chart of one point's archive
// values, one line per run of slices with values so that a missing slice is a gap.
#pragma once

#include <QWidget>

#include "BrowserLive.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QSpinBox;

namespace velt {

class TrendPane : public QWidget {
  Q_OBJECT

 public:
  explicit TrendPane(QWidget* parent = nullptr);

  void ShowSeries(const TrendSeries& series, const QString& title);
  void ShowMessage(const QString& text);
  void ShowOptions(TrendSpan span, int archive);

  // The lines on show (tests): how many runs, how many points in all.
  int LineCount() const;
  int PointCount() const;

 signals:
  void SpanChosen(velt::TrendSpan span);
  void ArchiveChosen(int archive);

 private:
  void ClearChart();

  QComboBox* span_ = nullptr;
  QSpinBox* archive_ = nullptr;
  QLabel* title_ = nullptr;
  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  bool showingOptions_ = false;
};

}  // namespace velt
