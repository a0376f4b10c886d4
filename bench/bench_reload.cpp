// What the browser's reload asks of the server, for 50 channels x 100 RTUs (tmsim --synthetic),
// one request at a time as the tree is built, beside the same requests in pipelined batches by
// level: the channel list; the channels' names; the RTU lists of the named channels (again from
// the last number + 1 while a list comes back full); the RTUs' names. At 0 and 20 ms latency.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TmsimProcess.h"
#include "tmaccess.h"

namespace velt {
namespace {

constexpr uint8_t kMaxCount = 255;
constexpr uint32_t kNameSize = 260;

TmAccess& Tmsim(double latencyMs) {
  struct Server {
    std::unique_ptr<TmsimProcess> process;
    std::unique_ptr<TmAccess> tm;
  };
  static std::map<double, Server> servers;
  Server& server = servers[latencyMs];
  if (!server.process) {
    TmsimOptions options;
    options.database.clear();
    options.extra_args = {"--synthetic", "50x100"};
    options.latency_ms = latencyMs;
    server.process = std::make_unique<TmsimProcess>(options);
    server.tm = std::make_unique<TmAccess>();
    if ((server.tm->tmaConnect(server.process->Address(), kClientName) & 0xFFFF) == 0) {
      throw std::runtime_error("cannot connect to tmsim");
    }
  }
  return *server.tm;
}

struct Tree {
  size_t channels = 0, rtus = 0, requests = 0;
};

Tree ReloadOneByOne(TmOperations& tm) {
  Tree tree;
  uint16_t numbers[kMaxCount];
  const uint32_t channels = tm.tmaEnumObjects(kClassChannel, kMaxCount, numbers, 0, 0, 0) & 0xFF;
  ++tree.requests;
  const std::vector<uint16_t> channelList(numbers, numbers + channels);
  std::string name;
  for (const uint16_t c : channelList) {
    ++tree.requests;
    if (tm.tmaGetObjectName(kClassChannel, c, 0, 0, name, kNameSize) != kTmaTrue) continue;
    ++tree.channels;
    for (uint16_t start = 1;;) {
      ++tree.requests;
      const uint32_t n = tm.tmaEnumObjects(kClassRtu, kMaxCount, numbers, c, start, 0) & 0xFF;
      const std::vector<uint16_t> rtus(numbers, numbers + n);
      for (const uint16_t r : rtus) {
        ++tree.requests;
        if (tm.tmaGetObjectName(kClassRtu, c, r, 0, name, kNameSize) == kTmaTrue) ++tree.rtus;
      }
      if (n < kMaxCount) break;
      start = static_cast<uint16_t>(rtus.back() + 1);
    }
  }
  return tree;
}

TmBatchRequest NameRequest(uint16_t cls, uint16_t ch, uint16_t rtu) {
  TmBatchRequest q;
  q.kind = TmBatchRequest::Kind::GetObjectName;
  q.cls = cls;
  q.ch = ch;
  q.rtu = rtu;
  q.size = kNameSize;
  return q;
}

TmBatchRequest RtuListRequest(uint16_t ch, uint16_t start) {
  TmBatchRequest q;
  q.kind = TmBatchRequest::Kind::EnumObjects;
  q.cls = kClassRtu;
  q.ch = ch;
  q.rtu = start;
  q.max = kMaxCount;
  return q;
}

Tree ReloadBatched(TmOperations& tm) {
  Tree tree;
  uint16_t numbers[kMaxCount];
  const uint32_t channels = tm.tmaEnumObjects(kClassChannel, kMaxCount, numbers, 0, 0, 0) & 0xFF;
  ++tree.requests;
  std::vector<TmBatchRequest> requests;
  for (uint32_t i = 0; i < channels; ++i)
    requests.push_back(NameRequest(kClassChannel, numbers[i], 0));
  std::vector<TmBatchAnswer> answers(requests.size());
  tm.tmaBatch(requests, answers);
  tree.requests += requests.size();

  // Channel -> its RTUs; lists that come back full are asked again from the last number + 1.
  std::vector<std::pair<uint16_t, std::vector<uint16_t>>> named;
  for (size_t i = 0; i < requests.size(); ++i) {
    if (answers[i].named == kTmaTrue) named.push_back({requests[i].ch, {}});
  }
  tree.channels = named.size();
  std::vector<size_t> open(named.size());
  for (size_t i = 0; i < open.size(); ++i) open[i] = i;
  std::vector<uint16_t> starts(named.size(), 1);
  while (!open.empty()) {
    requests.clear();
    for (const size_t i : open) requests.push_back(RtuListRequest(named[i].first, starts[i]));
    answers.assign(requests.size(), {});
    tm.tmaBatch(requests, answers);
    tree.requests += requests.size();
    std::vector<size_t> again;
    for (size_t k = 0; k < open.size(); ++k) {
      auto& list = named[open[k]].second;
      list.insert(list.end(), answers[k].numbers.begin(), answers[k].numbers.end());
      if (answers[k].numbers.size() == kMaxCount) {
        starts[open[k]] = static_cast<uint16_t>(list.back() + 1);
        again.push_back(open[k]);
      }
    }
    open = std::move(again);
  }
  requests.clear();
  for (const auto& [c, rtus] : named) {
    for (const uint16_t r : rtus) requests.push_back(NameRequest(kClassRtu, c, r));
  }
  answers.assign(requests.size(), {});
  tm.tmaBatch(requests, answers);
  tree.requests += requests.size();
  for (const TmBatchAnswer& a : answers) tree.rtus += a.named == kTmaTrue ? 1 : 0;
  return tree;
}

void Register() {
  for (const double latency : {0.0, 20.0}) {
    for (const bool batched : {false, true}) {
      const std::string name = "Reload50x100/latency_" + std::to_string(static_cast<int>(latency)) +
                               "ms/" + (batched ? "Pipelined" : "OneByOne");
      benchmark::RegisterBenchmark(
          name.c_str(),
          [latency, batched](benchmark::State& state) {
            TmAccess& tm = Tmsim(latency);
            Tree tree;
            for (auto _ : state) {
              tree = batched ? ReloadBatched(tm) : ReloadOneByOne(tm);
            }
            state.counters["channels"] = static_cast<double>(tree.channels);
            state.counters["rtus"] = static_cast<double>(tree.rtus);
            state.counters["requests"] = static_cast<double>(tree.requests);
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
