// The telemetry browser against tmsim on loopback, in the real window on the offscreen platform:
//   reload  - the whole tree of a generated server, 50 channels x 100 RTUs (5 000 RTU nodes);
//   listing - one RTU's 1 000 analog points into the list (with the values of the rows in view);
//   refresh - the values of 1 000 rows in view, asked in one batch and shown;
//   trend   - a 7-day hourly trend (168 slices) of one point, asked in one batch and drawn.
// Prints the median, minimum and maximum of several runs.
// Usage: bench_browser [--latency MS] [--runs N]   (tmsim's added answer delay; default 0, 7)
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BrowserWindow.h"
#include "TmsimProcess.h"
#include "TrendPane.h"
#include "tmaccess.h"

namespace {

using Clock = std::chrono::steady_clock;

class NoSettings : public velt::BrowserSettingsStore {
 public:
  std::optional<std::string> Read(const std::string&) const override { return std::nullopt; }
  void Write(const std::string&, const std::string&) override {}
};

void Report(const char* what, std::vector<double> seconds, double target) {
  std::sort(seconds.begin(), seconds.end());
  const double median = seconds[seconds.size() / 2];
  std::printf("%-34s median %7.3f s  min %7.3f s  max %7.3f s  (target <= %.1f s: %s)\n", what,
              median, seconds.front(), seconds.back(), target, median <= target ? "met" : "MISSED");
}

// Every row of the list counts as in view, as on a screen tall enough for 1 000 rows.
class AllRowsWindow : public velt::BrowserWindow {
 public:
  using BrowserWindow::BrowserWindow;
  std::vector<int> RowsInView() const override {
    std::vector<int> rows(items_.size());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<int>(i);
    return rows;
  }

 private:
  const std::vector<velt::ListItem>& items_ = Logic().Items();
};

void ReportMs(const char* what, std::vector<double> seconds, double targetMs) {
  std::sort(seconds.begin(), seconds.end());
  const double median = seconds[seconds.size() / 2] * 1000;
  std::printf("%-34s median %7.1f ms min %7.1f ms max %7.1f ms (target <= %.0f ms: %s)\n", what,
              median, seconds.front() * 1000, seconds.back() * 1000, targetMs,
              median <= targetMs ? "met" : "MISSED");
}

std::vector<double> Time(int runs, const std::function<void()>& once) {
  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    once();
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    QApplication::processEvents();
  }
  return seconds;
}

std::string WriteThousandPoints(const QTemporaryDir& dir) {
  const std::string path = dir.filePath(QStringLiteral("points.toml")).toStdString();
  std::ofstream out(path);
  out << "[[channel]]\nnumber = 1\nname = \"Канал\"\n\n  [[channel.rtu]]\n  number = 1\n"
         "  name = \"КП\"\n";
  for (int p = 1; p <= 1000; ++p) {
    out << "\n    [[channel.rtu.analog]]\n    number = " << p << "\n    name = \"Ток фидера " << p
        << ", А\"\n    value = " << p << ".5\n";
    // Point 1 has an hourly archive around the server's start, for the trend.
    if (p == 1) {
      out << "    archive = [ { number = 0, value = 7.25, recent = { last = 691200, every = 3600, "
             "next = 86400 } } ]\n";
    }
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  NoSettings settings;
  double latencyMs = 0;
  int runs = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--latency") {
      latencyMs = std::atof(argv[i + 1]);
    } else if (option == "--runs") {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else {
      std::fprintf(stderr, "usage: bench_browser [--latency MS] [--runs N]\n");
      return 2;
    }
  }
  std::printf("tmsim latency %.1f ms, %d runs\n", latencyMs, runs);

  {
    velt::TmsimOptions options;
    options.database.clear();
    options.extra_args = {"--synthetic", "50x100"};
    options.latency_ms = latencyMs;
    velt::TmsimProcess sim(options);
    velt::TmAccess tm;
    if (tm.tmaConnect(sim.Address(), "$Excel$") == 0) return 1;
    velt::BrowserWindow window(tm, settings);
    window.show();
    QApplication::processEvents();
    Report("reload 50 x 100 RTUs", Time(runs, [&] { window.ReloadClick(); }), 1.0);
    std::printf("  %zu tree nodes\n", window.Logic().Nodes().size());
    tm.tmaDisconnect();
  }
  {
    QTemporaryDir dir;
    velt::TmsimOptions options;
    options.database = WriteThousandPoints(dir);
    options.latency_ms = latencyMs;
    velt::TmsimProcess sim(options);
    velt::TmAccess tm;
    if (tm.tmaConnect(sim.Address(), "$Excel$") == 0) return 1;
    AllRowsWindow window(tm, settings);
    window.show();
    QApplication::processEvents();  // the reload that the first show queues
    window.ReloadClick();
    // Kind node "ТИТ" of channel 1, RTU 1; the channel node between runs forgets the listing.
    const velt::NodeId channel = 0, analog = 3;
    Report("listing 1 000 analog points",
           Time(runs,
                [&] {
                  window.SelectTreeNode(channel);
                  window.Logic().HETreeView1Click();
                  window.SelectTreeNode(analog);
                  window.Logic().HETreeView1Click();
                }),
           0.2);
    std::printf("  %zu list items\n", window.Logic().Items().size());

    velt::BrowserLive& live = window.Live();
    ReportMs("refresh 1 000 visible values", Time(runs, [&] { live.RefreshValues(); }),
             latencyMs > 0 ? 100 : 50);
    live.SetTrendSpan(velt::TrendSpan::Days7);
    ReportMs("trend 7 days, 168 hourly slices",
             Time(runs,
                  [&] {
                    live.CurrentRowChanged(-1);
                    live.CurrentRowChanged(0);
                  }),
             100);
    const auto* trend = window.findChild<velt::TrendPane*>();
    std::printf("  %d lines, %d points\n", trend->LineCount(), trend->PointCount());
    tm.tmaDisconnect();
  }
  return 0;
}
