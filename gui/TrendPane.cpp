#include "TrendPane.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace velt {

namespace {

constexpr TrendSpan kSpans[] = {TrendSpan::Hours8, TrendSpan::Hours24, TrendSpan::Days7};

// Slice times are civil times of the server's wall clock without a zone; the axis shows local
// time, so each is placed at the local moment that reads as the same figures.
qint64 ChartTime(int64_t civil) {
  const QDateTime figures = QDateTime::fromSecsSinceEpoch(civil, Qt::UTC);
  return QDateTime(figures.date(), figures.time(), Qt::LocalTime).toMSecsSinceEpoch();
}

}  // namespace

TrendPane::TrendPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TrendPane"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 2, 0, 0);
  layout->setSpacing(2);
  auto* options = new QHBoxLayout;
  options->setContentsMargins(4, 0, 4, 0);
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("TrendTitle"));
  span_ = new QComboBox(this);
  span_->setObjectName(QStringLiteral("TrendSpan"));
  span_->addItems({QStringLiteral("8 ч"), QStringLiteral("24 ч"), QStringLiteral("7 суток")});
  span_->setStatusTip(QStringLiteral("Интервал графика, часовые срезы"));
  archive_ = new QSpinBox(this);
  archive_->setObjectName(QStringLiteral("TrendArchive"));
  archive_->setRange(0, 65535);
  archive_->setPrefix(QStringLiteral("Архив "));
  archive_->setStatusTip(QStringLiteral("Номер архива ТИТ"));
  options->addWidget(title_, 1);
  options->addWidget(span_);
  options->addWidget(archive_);
  layout->addLayout(options);

  chart_ = new QChart;
  chart_->legend()->hide();
  chart_->setMargins(QMargins(2, 2, 2, 2));
  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("TrendChart"));
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setMinimumHeight(120);
  layout->addWidget(view_, 1);

  connect(span_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!showingOptions_ && index >= 0 && index < 3) emit SpanChosen(kSpans[index]);
  });
  connect(archive_, &QSpinBox::valueChanged, this, [this](int value) {
    if (!showingOptions_) emit ArchiveChosen(value);
  });
}

void TrendPane::ShowOptions(TrendSpan span, int archive) {
  showingOptions_ = true;
  const auto* found = std::find(std::begin(kSpans), std::end(kSpans), span);
  span_->setCurrentIndex(static_cast<int>(found - std::begin(kSpans)));
  archive_->setValue(archive);
  showingOptions_ = false;
}

void TrendPane::ClearChart() {
  chart_->removeAllSeries();
  for (QAbstractAxis* axis : chart_->axes()) {
    chart_->removeAxis(axis);
    delete axis;
  }
}

void TrendPane::ShowMessage(const QString& text) {
  ClearChart();
  title_->clear();
  chart_->setTitle(text);
}

void TrendPane::ShowSeries(const TrendSeries& series, const QString& title) {
  ClearChart();
  title_->setText(title);
  chart_->setTitle(QString());
  const auto runs = TrendRuns(series);
  if (runs.empty()) {
    chart_->setTitle(QString::fromUtf8(kNoValue));
    return;
  }
  auto* x = new QDateTimeAxis;
  x->setFormat(series.times.size() > 24 ? QStringLiteral("dd.MM") : QStringLiteral("HH:mm"));
  // The axis runs to the hour after the last slice, so its ticks fall on whole hours: every
  // hour of 8, every 4 h of 24, every day of 7.
  const qint64 hours = static_cast<qint64>(series.times.size());
  x->setTickCount(static_cast<int>(hours <= 8 ? hours + 1 : hours <= 24 ? 7 : hours / 24 + 1));
  x->setRange(QDateTime::fromMSecsSinceEpoch(ChartTime(series.times.front())),
              QDateTime::fromMSecsSinceEpoch(ChartTime(series.times.front() + hours * 3600)));
  auto* y = new QValueAxis;
  double low = runs.front().front().second;
  double high = low;
  for (const auto& run : runs) {
    for (const auto& [time, value] : run) {
      low = std::min(low, value);
      high = std::max(high, value);
    }
  }
  const double pad = high > low ? (high - low) * 0.08 : std::max(1.0, std::abs(high) * 0.05);
  y->setRange(low - pad, high + pad);
  y->applyNiceNumbers();
  chart_->addAxis(x, Qt::AlignBottom);
  chart_->addAxis(y, Qt::AlignLeft);
  const QColor colour(0x1f, 0x5f, 0xa8);
  for (const auto& run : runs) {
    auto* line = new QLineSeries;
    for (const auto& [time, value] : run) line->append(static_cast<qreal>(ChartTime(time)), value);
    line->setColor(colour);
    // A run of one slice has no line to draw: its point shows.
    line->setPointsVisible(run.size() == 1);
    chart_->addSeries(line);
    line->attachAxis(x);
    line->attachAxis(y);
  }
}

int TrendPane::LineCount() const {
  return static_cast<int>(chart_->series().size());
}

int TrendPane::PointCount() const {
  int points = 0;
  for (QAbstractSeries* series : chart_->series()) {
    if (auto* line = qobject_cast<QLineSeries*>(series)) points += static_cast<int>(line->count());
  }
  return points;
}

}  // namespace velt
