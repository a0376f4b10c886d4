// The browser's reload of 50 channels x 100 RTUs (tmsim --synthetic), as the browser's own logic
// does it: its requests in pipelined batches by level, beside the same requests one at a time.
// At 0 and 20 ms latency. The window is not involved (gui/bench_browser measures it).
#include <benchmark/benchmark.h>

#include <string>

#include "BenchTmsim.h"
#include "BrowserFakes.h"
#include "TMSBrowse.h"

namespace velt {
namespace {

// The server without its batch call: every batch is answered one request at a time.
class OneByOneTm : public ForwardingTm {
 public:
  using ForwardingTm::ForwardingTm;
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override {
    AnswerOneByOne(*this, requests, answers);
  }
};

void Register() {
  for (const double latency : {0.0, 20.0}) {
    for (const bool batched : {false, true}) {
      const std::string name = "Reload50x100/latency_" + std::to_string(static_cast<int>(latency)) +
                               "ms/" + (batched ? "Pipelined" : "OneByOne");
      benchmark::RegisterBenchmark(name.c_str(),
                                   [latency, batched](benchmark::State& state) {
                                     TmAccess& server = SharedTmsim(latency, "50x100");
                                     OneByOneTm oneByOne(server);
                                     TmOperations& tm =
                                         batched ? static_cast<TmOperations&>(server) : oneByOne;
                                     RecordingBrowserView view;
                                     MemorySettings settings;
                                     TfrmTMSBrowse browser(tm, view, settings);
                                     for (auto _ : state) browser.ReloadClick();
                                     state.counters["nodes"] = static_cast<double>(view.treeSize);
                                   })
          ->Unit(benchmark::kMillisecond)
          ->Iterations(latency > 0 && !batched ? 1 : 5);
    }
  }
}

}  // namespace
}  // namespace velt

int main(int argc, char** argv) {
  velt::Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
