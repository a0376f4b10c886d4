// tmcBatch, the pipelined extension of libtmconn, against a real tmsim.
#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TmsimProcess.h"
#include "tmconn.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TmsimProcess SyntheticTmsim(double latencyMs = 0) {
  TmsimOptions options;
  options.database.clear();
  options.extra_args = {"--synthetic", "4x20"};
  options.latency_ms = latencyMs;
  return TmsimProcess(options);
}

uint32_t Connect(const TmsimProcess& sim) {
  return tmcConnect(sim.Address().c_str(), "TMS", "$Excel$", nullptr, 0);
}

// Items of every kind over points that exist and points that do not, and items the single
// calls refuse (no time text, zero max, zero size), with the buffers they need.
struct Items {
  explicit Items(size_t count) : items(count), numbers(count), names(count) {
    for (size_t i = 0; i < count; ++i) {
      TmcBatchItem& item = items[i];
      item.ch = static_cast<uint16_t>(1 + i % 5);  // channel 5 does not exist
      item.rtu = static_cast<uint16_t>(1 + i % 21);
      item.point = static_cast<uint16_t>(1 + i % 6);
      item.kind = static_cast<uint32_t>(TMC_BATCH_STATUS + static_cast<int>(i % 5));
      item.time = i % 97 == 3 ? nullptr : (i % 2 == 0 ? "N/A" : "");
      item.cls = i % 3 == 0 ? 0x9001 : 0x8001;
      item.max = static_cast<uint8_t>(i % 50 == 4 ? 0 : 1 + i % 255);
      numbers[i].assign(255, 0);
      item.numbers = numbers[i].data();
      names[i].assign(80, 'x');
      item.name = names[i].data();
      item.size = i % 61 == 9 ? 0 : static_cast<uint32_t>(1 + i % 80);
    }
  }
  std::vector<TmcBatchItem> items;
  std::vector<std::vector<uint16_t>> numbers;
  std::vector<std::vector<char>> names;
};

// What the single call of the item's kind answers, as text.
std::string Single(uint32_t h, const TmcBatchItem& item) {
  switch (item.kind) {
    case TMC_BATCH_STATUS:
      return std::to_string(tmcStatus(h, item.ch, item.rtu, item.point));
    case TMC_BATCH_ANALOG:
      return std::to_string(tmcAnalog(h, item.ch, item.rtu, item.point, item.time, item.archive));
    case TMC_BATCH_ACCUM: {
      float values[2] = {0, 0};
      const uint32_t r = tmcAccumFull(h, item.ch, item.rtu, item.point, values, item.time);
      return std::to_string(r) +
             (r ? " " + std::to_string(values[0]) + " " + std::to_string(values[1]) : "");
    }
    case TMC_BATCH_ENUM: {
      std::vector<uint16_t> numbers(255);
      const uint32_t n =
          tmcEnumObjects(h, item.cls, item.max, numbers.data(), item.ch, item.rtu, item.point);
      std::string text = std::to_string(n);
      for (uint32_t k = 0; k < (n & 0xFF); ++k) text += " " + std::to_string(numbers[k]);
      return text;
    }
    default: {
      std::vector<char> name(80, 'x');
      const int16_t r =
          tmcGetObjectName(h, item.cls, item.ch, item.rtu, item.point, name.data(), item.size);
      return std::to_string(r) + (r == 1 ? " " + std::string(name.data()) : "");
    }
  }
}

// The same for a batch item's answer.
std::string Batched(const TmcBatchItem& item) {
  switch (item.kind) {
    case TMC_BATCH_STATUS:
      return std::to_string(item.status);
    case TMC_BATCH_ANALOG:
      return std::to_string(item.analog);
    case TMC_BATCH_ACCUM:
      return std::to_string(item.result) + (item.result ? " " + std::to_string(item.values[0]) +
                                                              " " + std::to_string(item.values[1])
                                                        : "");
    case TMC_BATCH_ENUM: {
      std::string text = std::to_string(item.result);
      for (uint32_t k = 0; k < (item.result & 0xFF); ++k) {
        text += " " + std::to_string(item.numbers[k]);
      }
      return text;
    }
    default:
      return std::to_string(item.result) + (item.result == 1 ? " " + std::string(item.name) : "");
  }
}

TEST(TmcBatch, AnswersInRequestOrderAsTheSingleCallsWould) {
  TmsimProcess sim = SyntheticTmsim();
  const uint32_t h = Connect(sim);
  ASSERT_NE(h, 0u);
  for (const uint32_t window : {1u, 7u, 0u}) {  // 0: the default window
    SCOPED_TRACE(window);
    Items batch(3000);
    EXPECT_LT(tmcBatch(h, batch.items.data(), 3000, window), 3000u);  // refused items
    size_t differences = 0;
    for (const TmcBatchItem& item : batch.items) {
      const std::string single = Single(h, item);
      if (Batched(item) != single && ++differences < 5) {
        ADD_FAILURE() << "kind " << item.kind << ": " << Batched(item) << " != " << single;
      }
    }
    EXPECT_EQ(differences, 0u);
  }
  EXPECT_EQ(tmcBatch(0, Items(3).items.data(), 3, 0), 0u);
  tmcDisconnect(h);
}

std::vector<TmcBatchItem> StatusItems(size_t count) {
  std::vector<TmcBatchItem> items(count);
  for (size_t i = 0; i < count; ++i) {
    items[i].kind = TMC_BATCH_STATUS;
    items[i].ch = 1;
    items[i].rtu = 1;
    items[i].point = static_cast<uint16_t>(1 + i % 4);
  }
  return items;
}

// With no bound on the window both sides have far more to send than their buffers hold: the
// client reads while it writes, so the batch still completes. With latency, the requests in
// flight wait together, not one after another.
TEST(TmcBatch, UnboundedWindowAndLatency) {
  {
    TmsimProcess sim = SyntheticTmsim();
    const uint32_t h = Connect(sim);
    std::vector<TmcBatchItem> items = StatusItems(200000);
    EXPECT_EQ(tmcBatch(h, items.data(), 200000, UINT32_MAX), 200000u);
    EXPECT_EQ(items.back().status, 200000 % 4 % 2);
    tmcDisconnect(h);
  }
  TmsimProcess sim = SyntheticTmsim(20);
  const uint32_t h = Connect(sim);
  auto start = Clock::now();
  EXPECT_EQ(tmcStatus(h, 1, 1, 1), 1);
  EXPECT_GE(Clock::now() - start, 20ms);
  std::vector<TmcBatchItem> items = StatusItems(400);
  start = Clock::now();
  EXPECT_EQ(tmcBatch(h, items.data(), 400, 100), 400u);
  EXPECT_LT(Clock::now() - start, 400ms);  // four windows, not 400 round trips
  tmcDisconnect(h);
}

struct Stall {
  const char* name;
  bool kill;  // otherwise the server stops answering and keeps the connection
};

class TmcBatchStall : public ::testing::TestWithParam<Stall> {};

// The batch would take about 10 s; the server goes away or freezes after 0.3 s. The answers
// taken so far stay, the rest fail, and the call returns within the bound of a single call.
TEST_P(TmcBatchStall, FailsTheRestWithinOneCallsBound) {
  TmsimProcess sim = SyntheticTmsim(2);
  const uint32_t h = Connect(sim);
  ASSERT_NE(h, 0u);
  std::vector<TmcBatchItem> items = StatusItems(20000);
  Clock::time_point event;
  std::thread stopper([&] {
    std::this_thread::sleep_for(300ms);
    event = Clock::now();
    GetParam().kill ? sim.Kill() : sim.Freeze();
  });
  const uint32_t answered = tmcBatch(h, items.data(), 20000, 4);
  const auto returned = Clock::now();
  stopper.join();
  EXPECT_GT(answered, 0u);
  EXPECT_LT(answered, 20000u);
  EXPECT_LT(returned - event, 4500ms);
  for (size_t i = 0; i < items.size(); ++i) {
    const int16_t want = i < answered ? static_cast<int16_t>((1 + i % 4) % 2) : int16_t{-1};
    if (items[i].status != want) {
      ADD_FAILURE() << "item " << i << " of " << answered << " answered: " << items[i].status;
      break;
    }
  }
  if (!GetParam().kill) sim.Thaw();
  tmcDisconnect(h);
}

INSTANTIATE_TEST_SUITE_P(Cases, TmcBatchStall,
                         ::testing::Values(Stall{"Killed", true}, Stall{"Frozen", false}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace velt
