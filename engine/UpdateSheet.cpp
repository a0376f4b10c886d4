#include "UpdateSheet.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "FloatDecimal.h"
#include "Grammar.h"

namespace velt {

namespace {

// The time text and archive number that ask for a current analog value; the empty time text
// asks for current accumulator values.
constexpr uint16_t kCurrentArchive = 0;
const std::string kCurrentAccumTime;

constexpr int32_t kAddressColumn = 1;
constexpr int32_t kArchiveColumn = 3;
constexpr int32_t kValueColumn = 4;
constexpr int32_t kMeterColumn = 5;
constexpr int32_t kFirstSliceColumn = 4;
constexpr int32_t kFirstListColumn = 2;

// The TM interface takes every number as its low 16 bits.
uint16_t Low16(int32_t value) {
  return static_cast<uint16_t>(value);
}

// Which value of an accumulator pair a cell receives.
enum class AccumValue { MeterReading = 0, ReducedPower = 1 };

enum class Block { None, Retro, XRetro };

// What the row loop carries from one row to the next. Copyable, so that a stretch of rows can be
// walked twice from the same start.
struct LoopState {
  int32_t row = 1;
  bool ended = false;  // end of data, the row limit, or a failure that ends the loop
  std::optional<std::string> failure;  // the first spreadsheet error's text
  TmAddress address;
  int32_t archive = 0;
  Block block = Block::None;
  // The RETRO address list or the XRETRO time list of the open block.
  std::vector<std::string> list;
};

// The row loop of one pass. Spreadsheet failures travel as SpreadsheetError; each is caught
// where it ends either a row's requests or the row loop.
class Pass {
 public:
  Pass(Worksheet& sheet, ProgressIndicator& progress, TmOperations& tm, PassStatistics& stats,
       LoopState& state)
      : sheet_(sheet),
        progress_(progress),
        tm_(tm),
        stats_(stats),
        address_(state.address),
        archive_(state.archive),
        block_(state.block),
        list_(state.list),
        state_(state) {}

  // Examines rows from state.row on until the loop ends, or until stop() says so before a row.
  template <class Stop>
  void Run(Stop stop) {
    while (!state_.ended) {
      if (state_.row > kLastExaminedRow) {
        state_.ended = true;
        break;
      }
      if (stop()) break;
      try {
        const int32_t next = Row(state_.row);
        if (next == kEndOfData) {
          state_.ended = true;
        } else {
          state_.row = next;
        }
      } catch (const SpreadsheetError& e) {
        Failed(e);
        state_.ended = true;
      }
    }
  }

 private:
  void Failed(const SpreadsheetError& e) {
    if (!state_.failure) state_.failure = e.what();
  }

  static constexpr int32_t kEndOfData = 0;

  // Examines row r; returns the next row to examine, or kEndOfData.
  int32_t Row(int32_t r) {
    ++stats_.rowsExamined;
    std::string text = sheet_.CellText(r, kAddressColumn);

    bool blockRow = false;  // a RETRO time row or the row that closes an XRETRO block
    if (block_ == Block::Retro) {
      if (EndsRetroBlock(text)) {
        block_ = Block::None;
      } else {
        // A time row then goes on as a row of kind none: one progress step, nothing more.
        RetroTimeRow(r, text);
        blockRow = true;
      }
    }
    if (block_ == Block::XRetro) {
      if (EndsXRetroBlock(text)) {
        block_ = Block::None;
        blockRow = true;
      } else {
        XRetroBlockRow(r, text);
        return r + 1;
      }
    }

    RowKind kind = RowKind::None;
    if (BeginsWith(text, "#")) {
      address_ = {};
      text = AsciiUpper(text);
      archive_ = ParseArchiveNumber(sheet_.CellText(r, kArchiveColumn));
      kind = ClassifyOrdinaryRow(text, archive_, address_);
    }
    if (IsRetroCommand(text)) {
      RetroCommandRow(r, text);
      return r + 1;
    }
    if (IsXRetroCommand(text)) {
      XRetroCommandRow(r, text);
      return r + 1;
    }
    if (text.empty()) return kEndOfData;
    if (kind == RowKind::None && !blockRow && !BeginsWith(text, "XEND")) {
      stats_.rowsNotUnderstood.push_back(r);
    } else if (kind != RowKind::None && !InOrdinaryRange(address_)) {
      stats_.rowsOutOfRange.push_back(r);
    }

    // Rows without a kind see the address that the last scan left; it only picks the rule.
    if (!InOrdinaryRange(address_)) {
      AdvanceProgress(progress_, MaximumRule::OutOfRange);
      return r + 1;
    }
    AdvanceProgress(progress_, MaximumRule::Grow);

    switch (kind) {
      case RowKind::CurrentAnalog:
        WriteAnalog(r, kValueColumn, Analog(kCurrentTime, kCurrentArchive));
        break;
      case RowKind::Accumulator: {
        float pair[2] = {0, 0};
        if (AccumFull(pair, kCurrentAccumTime)) {
          WriteNumber(r, kMeterColumn, pair[0]);
          WriteNumber(r, kValueColumn, pair[1]);
        } else {
          WriteNoValue(r, kValueColumn);
        }
        break;
      }
      case RowKind::Status: {
        ++stats_.tmRequests;
        const int16_t status =
            tm_.tmaStatus(Low16(address_.channel), Low16(address_.rtu), Low16(address_.point));
        if (status == -1) {
          WriteNoValue(r, kValueColumn);
        } else {
          sheet_.SetCellInteger(r, kValueColumn, status);
          ++stats_.valuesWritten;
        }
        break;
      }
      case RowKind::ArchiveAnalog:
        return ArchiveRow(r);
      case RowKind::None:
        break;
    }
    return r + 1;
  }

  // Archive row: slice times from column 4 rightward up to the first empty cell, values into
  // the row below, which is not examined. Failures end the row loop.
  int32_t ArchiveRow(int32_t r) {
    // Only the first empty cell ends the times; the sheet's own bound ends them with an error.
    for (int32_t n = kFirstSliceColumn; n < std::numeric_limits<int32_t>::max(); ++n) {
      const std::string time = sheet_.CellText(r, n);
      if (time.empty()) break;
      const float value = Analog(time, Low16(archive_));
      AdvanceProgress(progress_, MaximumRule::Grow);
      WriteAnalog(r + 1, n, value);
    }
    return r + 2;
  }

  // RETRO command row: the address list across, entries upper-cased, while they pass the
  // prefix test. A read failure ends the row loop.
  void RetroCommandRow(int32_t r, const std::string& text) {
    archive_ = CommandArchiveNumber(text, "RETRO:%d");
    list_.clear();
    for (int32_t n = kFirstListColumn; n <= kLastListColumn; ++n) {
      std::string cell = AsciiUpper(sheet_.CellText(r, n));
      if (!IsRetroListEntry(cell)) break;
      list_.push_back(std::move(cell));
    }
    block_ = list_.empty() ? Block::None : Block::Retro;
  }

  // XRETRO command row: the time list across, upper-cased, up to the first empty cell.
  void XRetroCommandRow(int32_t r, const std::string& text) {
    archive_ = CommandArchiveNumber(text, "XRETRO:%d");
    list_.clear();
    for (int32_t n = kFirstListColumn; n <= kLastListColumn; ++n) {
      std::string cell = sheet_.CellText(r, n);
      if (cell.empty()) break;
      list_.push_back(AsciiUpper(cell));
    }
    block_ = list_.empty() ? Block::None : Block::XRetro;
  }

  // RETRO time row: one value per list entry at the slice time in column 1. A failed write
  // drops the rest of this row only.
  void RetroTimeRow(int32_t r, const std::string& time) {
    try {
      for (size_t i = 0; i < list_.size(); ++i) {
        const int32_t column = kFirstListColumn + static_cast<int32_t>(i);
        switch (MatchRetroEntry(list_[i], address_)) {
          case BlockEntryKind::Analog: {
            const float value = Analog(time, Low16(archive_));
            AdvanceProgress(progress_, MaximumRule::Grow);
            WriteAnalog(r, column, value);
            break;
          }
          case BlockEntryKind::Accumulator:
            WriteAccum(r, column, time, AccumValue::ReducedPower);
            break;
          case BlockEntryKind::MeterReading:
            WriteAccum(r, column, time, AccumValue::MeterReading);
            break;
          case BlockEntryKind::None:
            break;
        }
      }
    } catch (const SpreadsheetError& e) {
      Failed(e);
    }
  }

  // XRETRO block row: the row's address (as typed) at every time of the list. The text runs
  // one step per kind (analog, meter reading, accumulator) and a failure drops the rest of its
  // step only; as a text matches at most one kind, that step is the row's only one.
  void XRetroBlockRow(int32_t r, const std::string& text) {
    const BlockEntryKind kind = MatchXRetroRow(text, address_);
    if (kind == BlockEntryKind::None) return;
    try {
      for (size_t j = 0; j < list_.size(); ++j) {
        const int32_t column = kFirstListColumn + static_cast<int32_t>(j);
        if (kind == BlockEntryKind::Analog) {
          const float value = Analog(list_[j], Low16(archive_));
          AdvanceProgress(progress_, MaximumRule::Grow);
          WriteAnalog(r, column, value);
        } else {
          WriteAccum(r, column, list_[j],
                     kind == BlockEntryKind::MeterReading ? AccumValue::MeterReading
                                                          : AccumValue::ReducedPower);
        }
      }
    } catch (const SpreadsheetError& e) {
      Failed(e);
    }
  }

  float Analog(const std::string& time, uint16_t archive) {
    ++stats_.tmRequests;
    return tm_.tmaAnalog(Low16(address_.channel), Low16(address_.rtu), Low16(address_.point), time,
                         archive);
  }

  bool AccumFull(float (&pair)[2], const std::string& time) {
    ++stats_.tmRequests;
    const uint32_t result = tm_.tmaAccumFull(Low16(address_.channel), Low16(address_.rtu),
                                             Low16(address_.point), pair, time);
    return (result & 0xFFFFu) != 0;
  }

  void WriteAccum(int32_t row, int32_t column, const std::string& time, AccumValue which) {
    float pair[2] = {0, 0};
    if (AccumFull(pair, time)) {
      WriteNumber(row, column, pair[static_cast<int>(which)]);
    } else {
      WriteNoValue(row, column);
    }
  }

  void WriteAnalog(int32_t row, int32_t column, float value) {
    if (AnalogMissing(value)) {
      WriteNoValue(row, column);
    } else {
      WriteNumber(row, column, value);
    }
  }

  void WriteNumber(int32_t row, int32_t column, float value) {
    // No cell gets an infinity or NaN, whatever the server sent: other programs cannot read them.
    if (!std::isfinite(value)) {
      WriteNoValue(row, column);
      return;
    }
    sheet_.SetCellNumber(row, column, ShortestDouble(value));
    ++stats_.valuesWritten;
  }

  void WriteNoValue(int32_t row, int32_t column) {
    sheet_.SetCellText(row, column, kNoValue);
    ++stats_.noValueWritten;
  }

  Worksheet& sheet_;
  ProgressIndicator& progress_;
  TmOperations& tm_;
  PassStatistics& stats_;

  TmAddress& address_;
  int32_t& archive_;
  Block& block_;
  std::vector<std::string>& list_;
  LoopState& state_;
};

// Cell positions as keys of the texts a planning walk read.
int64_t CellKey(int32_t row, int32_t column) {
  return (static_cast<int64_t>(row) << 32) | static_cast<int64_t>(static_cast<uint32_t>(column));
}

// The sheet as a planning walk sees it: reads go to the sheet and are kept (a failed read too,
// which ends the walk), writes go nowhere.
class ReadingSheet : public ForwardingWorksheet {
 public:
  using ForwardingWorksheet::ForwardingWorksheet;

  std::string CellText(int32_t row, int32_t column) override {
    try {
      std::string text = inner_.CellText(row, column);
      texts_[CellKey(row, column)] = text;
      return text;
    } catch (const SpreadsheetError& e) {
      failedRead_ = CellKey(row, column);
      failure_ = e.what();
      throw;
    }
  }
  // Nothing is written, but a write that is certain to fail ends the walk where the writing
  // walk will fail, so that no request after it is sent.
  void SetCellNumber(int32_t row, int32_t column, double) override { Write(row, column); }
  void SetCellInteger(int32_t row, int32_t column, int16_t) override { Write(row, column); }
  void SetCellText(int32_t row, int32_t column, const std::string&) override { Write(row, column); }

  std::unordered_map<int64_t, std::string> texts_;
  std::optional<int64_t> failedRead_;
  std::string failure_;

 private:
  void Write(int32_t row, int32_t column) {
    if (!inner_.CellWritable(row, column)) throw SpreadsheetError("the cell cannot be written");
  }
};

// The sheet as the writing walk sees it: the texts the planning walk read (and its failed read
// fails again), writes to the sheet. A cell the planning walk did not read is read afresh.
class ReplayedSheet : public ForwardingWorksheet {
 public:
  ReplayedSheet(Worksheet& sheet, const ReadingSheet& reads)
      : ForwardingWorksheet(sheet), reads_(reads) {}

  std::string CellText(int32_t row, int32_t column) override {
    const int64_t key = CellKey(row, column);
    if (reads_.failedRead_ == key) throw SpreadsheetError(reads_.failure_);
    const auto it = reads_.texts_.find(key);
    return it != reads_.texts_.end() ? it->second : inner_.CellText(row, column);
  }

 private:
  const ReadingSheet& reads_;
};

// The server as a planning walk sees it: every request is noted and fails. What the walk decides
// never depends on an answer, only on the sheet.
class PlanningTm : public TmOperations {
 public:
  int32_t tmaSystemTime(char*, uint32_t) override { return 0; }
  int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) override {
    requests_.push_back(StatusRequest(ch, rtu, point));
    return -1;
  }
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override {
    requests_.push_back(AnalogRequest(ch, rtu, point, time, archive));
    return std::numeric_limits<float>::max();
  }
  uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float*,
                        const std::string& time) override {
    requests_.push_back(AccumRequest(ch, rtu, point, time));
    return 0;
  }
  uint32_t tmaEnumObjects(uint16_t, uint8_t, uint16_t*, uint16_t, uint16_t, uint16_t) override {
    return 0;
  }
  int16_t tmaGetObjectName(uint16_t, uint16_t, uint16_t, uint16_t, std::string& name,
                           uint32_t) override {
    name.clear();
    return kTmaFalse;
  }

  std::vector<TmBatchRequest> requests_;
};

// The server as the writing walk sees it: the fetched answers, taken in order. The walk asks
// for the planned requests in the planned order, except for those that a failed write made it
// drop, which are skipped; anything else (never expected) goes to the server itself.
class AnsweredTm : public ForwardingTm {
 public:
  AnsweredTm(TmOperations& tm, const std::vector<TmBatchRequest>& requests,
             const std::vector<TmBatchAnswer>& answers)
      : ForwardingTm(tm), requests_(requests), answers_(answers) {}

  int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) override {
    const TmBatchAnswer* a = Find(StatusRequest(ch, rtu, point));
    return a ? a->status : tm_.tmaStatus(ch, rtu, point);
  }
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override {
    const TmBatchAnswer* a = Find(AnalogRequest(ch, rtu, point, time, archive));
    return a ? a->analog : tm_.tmaAnalog(ch, rtu, point, time, archive);
  }
  uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                        const std::string& time) override {
    const TmBatchAnswer* a = Find(AccumRequest(ch, rtu, point, time));
    if (a == nullptr) return tm_.tmaAccumFull(ch, rtu, point, values, time);
    if ((a->result & 0xFFFFu) != 0) {
      values[0] = a->values[0];
      values[1] = a->values[1];
    }
    return a->result;
  }
  // Batches are answered from the fetched answers as well, one request at a time.
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override {
    AnswerOneByOne(*this, requests, answers);
  }

 private:
  const TmBatchAnswer* Find(const TmBatchRequest& request) {
    for (size_t i = next_; i < requests_.size(); ++i) {
      if (requests_[i] == request) {
        next_ = i + 1;
        return &answers_[i];
      }
    }
    return nullptr;
  }

  const std::vector<TmBatchRequest>& requests_;
  const std::vector<TmBatchAnswer>& answers_;
  size_t next_ = 0;
};

// Requests planned before they are fetched together. The first stretch is short, so that the
// bar moves soon and a failing office costs few requests; each next one doubles, so that a
// distant server is asked a few times per pass rather than once per row.
constexpr size_t kFirstStretch = 256;
constexpr size_t kLongestStretch = 4096;
// Requests planned but not yet written beyond which planning waits for the server.
constexpr size_t kMostAhead = 2 * kLongestStretch;

// The server's calls made by more than one thread, one at a time.
class SerializedTm : public ForwardingTm {
 public:
  SerializedTm(TmOperations& tm, std::mutex& mutex) : ForwardingTm(tm), mutex_(mutex) {}

  int32_t tmaSystemTime(char* buffer, uint32_t reserved) override {
    std::lock_guard lock(mutex_);
    return tm_.tmaSystemTime(buffer, reserved);
  }
  int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) override {
    std::lock_guard lock(mutex_);
    return tm_.tmaStatus(ch, rtu, point);
  }
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override {
    std::lock_guard lock(mutex_);
    return tm_.tmaAnalog(ch, rtu, point, time, archive);
  }
  uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                        const std::string& time) override {
    std::lock_guard lock(mutex_);
    return tm_.tmaAccumFull(ch, rtu, point, values, time);
  }
  uint32_t tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch, uint16_t rtu,
                          uint16_t point) override {
    std::lock_guard lock(mutex_);
    return tm_.tmaEnumObjects(cls, max, buffer, ch, rtu, point);
  }
  int16_t tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                           std::string& name, uint32_t size) override {
    std::lock_guard lock(mutex_);
    return tm_.tmaGetObjectName(cls, ch, rtu, point, name, size);
  }
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override {
    std::lock_guard lock(mutex_);
    tm_.tmaBatch(requests, answers);
  }

 private:
  std::mutex& mutex_;
};

// One stretch of rows as its planning walk left it: what it read, what it asks, where it
// stopped. answers and fetched belong to the Fetcher until fetched is set.
struct Stretch {
  explicit Stretch(Worksheet& sheet) : reads(sheet) {}
  ReadingSheet reads;
  std::vector<TmBatchRequest> requests;
  std::vector<TmBatchAnswer> answers;
  bool toTheEnd = false;
  int32_t stop = 0;
  bool fetched = false;
};

// Fetches the answers of stretches on a thread of its own, in the order they were handed over,
// while the office reads the rows of the next ones. The stretches waiting when it gets free go
// to the server as one batch: a distant server costs a round trip per wait, not per stretch.
// The spreadsheet is never touched from that thread.
class Fetcher {
 public:
  explicit Fetcher(TmOperations& tm) : tm_(tm), thread_([this] { Loop(); }) {}
  // Waits for the batch under way; stretches not yet sent are never sent.
  ~Fetcher() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Fetcher(const Fetcher&) = delete;
  Fetcher& operator=(const Fetcher&) = delete;

  void Add(Stretch& stretch) {
    {
      std::lock_guard lock(mutex_);
      if (stretch.requests.empty()) {
        stretch.fetched = true;
        return;
      }
      queue_.push_back(&stretch);
    }
    changed_.notify_all();
  }
  bool Fetched(const Stretch& stretch) {
    std::lock_guard lock(mutex_);
    return stretch.fetched;
  }
  // Waits for the stretch's answers; `waiting` runs on the caller's thread every 40 ms meanwhile.
  void Wait(const Stretch& stretch, const std::function<void()>& waiting) {
    std::unique_lock lock(mutex_);
    while (
        !changed_.wait_for(lock, std::chrono::milliseconds(40), [&] { return stretch.fetched; })) {
      lock.unlock();
      waiting();
      lock.lock();
    }
  }
  // Drops the stretches not yet sent and waits for the batch under way.
  void Cancel() {
    std::unique_lock lock(mutex_);
    queue_.clear();
    changed_.wait(lock, [&] { return !busy_; });
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      std::vector<Stretch*> taken(queue_.begin(), queue_.end());
      queue_.clear();
      busy_ = true;
      lock.unlock();
      Fetch(taken);
      lock.lock();
      busy_ = false;
      for (Stretch* stretch : taken) stretch->fetched = true;
      changed_.notify_all();
    }
  }

  void Fetch(const std::vector<Stretch*>& taken) {
    try {
      if (taken.size() == 1) {
        tm_.tmaBatch(taken.front()->requests, taken.front()->answers);
        return;
      }
      std::vector<TmBatchRequest> requests;
      for (const Stretch* stretch : taken) {
        requests.insert(requests.end(), stretch->requests.begin(), stretch->requests.end());
      }
      std::vector<TmBatchAnswer> answers(requests.size());
      tm_.tmaBatch(requests, answers);
      size_t next = 0;
      for (Stretch* stretch : taken) {
        for (TmBatchAnswer& answer : stretch->answers) answer = std::move(answers[next++]);
      }
    } catch (const std::exception&) {
      // Unanswered requests keep their failure values and become "н\д" cells.
    }
  }

  TmOperations& tm_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Stretch*> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// The row loop in stretches of rows: a walk that reads the rows and notes their requests, one
// batch that fetches the answers, and a walk over the same rows, from the same state, that
// writes them. Both walks are the one row loop; only the sheet and the server they see differ.
// The next stretches are planned while the server answers the current one.
void RunPipelined(Worksheet& sheet, ProgressIndicator& progress, TmOperations& tm,
                  PassStatistics& stats, LoopState& state) {
  std::mutex serverMutex;
  SerializedTm serialized(tm, serverMutex);
  std::deque<std::unique_ptr<Stretch>> stretches;
  Fetcher fetcher(serialized);  // goes before the stretches it may still hold
  LoopState ahead = state;
  size_t stretchSize = kFirstStretch;
  size_t planned = 0;  // requests of the stretches not yet written

  const auto planNext = [&] {
    auto stretch = std::make_unique<Stretch>(sheet);
    PlanningTm planning;
    ProgressBarModel noProgress;
    PassStatistics noStatistics;
    Pass(stretch->reads, noProgress, planning, noStatistics, ahead).Run([&] {
      return planning.requests_.size() >= stretchSize;
    });
    stretchSize = std::min(2 * stretchSize, kLongestStretch);
    stretch->requests = std::move(planning.requests_);
    stretch->answers.assign(stretch->requests.size(), TmBatchAnswer{});
    stretch->toTheEnd = ahead.ended;
    stretch->stop = ahead.row;
    planned += stretch->requests.size();
    fetcher.Add(*stretch);
    stretches.push_back(std::move(stretch));
  };

  while (!state.ended) {
    if (stretches.empty()) {
      ahead = state;
      planNext();
    }
    const Stretch& current = *stretches.front();
    while (!ahead.ended && planned < kMostAhead && !fetcher.Fetched(current)) planNext();
    fetcher.Wait(current, [&progress] { progress.Waiting(); });

    ReplayedSheet replayed(sheet, current.reads);
    AnsweredTm answered(serialized, current.requests, current.answers);
    Pass(replayed, progress, answered, stats, state).Run([&] {
      return !current.toTheEnd && state.row >= current.stop;
    });
    planned -= current.requests.size();
    const bool asPlanned = current.toTheEnd || state.row == current.stop;
    stretches.pop_front();
    if (state.ended || !asPlanned) {
      // What was planned beyond this point is not what the sheet asks now.
      fetcher.Cancel();
      stretches.clear();
      planned = 0;
    }
  }
}

// Set-up, the row loop, tear-down.
template <class Loop>
Result<> RunPass(Application& application, int32_t lcid, Worksheet& sheet,
                 ProgressIndicator& progress, PassStatistics* statistics, Loop loop) {
  PassStatistics local;
  PassStatistics& stats = statistics ? *statistics : local;
  stats = {};

  progress.SetPosition(0);
  try {
    // The probe read only tells whether the spreadsheet still answers.
    (void)sheet.CellText(1, 1);
    application.SetCalculation(xlCalculationManual, lcid);
  } catch (const SpreadsheetError& e) {
    return Failure{0, e.what()};
  }
  application.SetScreenUpdating(false, lcid);

  LoopState state;
  loop(stats, state);
  FinishProgress(progress);
  application.SetScreenUpdating(true, lcid);
  try {
    (void)sheet.CellText(1, 1);
    application.SetCalculation(xlCalculationAutomatic, lcid);
  } catch (const SpreadsheetError& e) {
    if (!state.failure) state.failure = e.what();
  }
  if (state.failure) return Failure{0, std::move(*state.failure)};
  return {};
}

}  // namespace

Result<> UpdateSheet(Application& application, int32_t lcid, Worksheet& sheet,
                     ProgressIndicator& progress, TmOperations& tm, PassStatistics* statistics) {
  return RunPass(application, lcid, sheet, progress, statistics,
                 [&](PassStatistics& stats, LoopState& state) {
                   RunPipelined(sheet, progress, tm, stats, state);
                 });
}

Result<> UpdateSheetOneByOne(Application& application, int32_t lcid, Worksheet& sheet,
                             ProgressIndicator& progress, TmOperations& tm,
                             PassStatistics* statistics) {
  return RunPass(application, lcid, sheet, progress, statistics,
                 [&](PassStatistics& stats, LoopState& state) {
                   Pass(sheet, progress, tm, stats, state).Run([] { return false; });
                 });
}

}  // namespace velt
