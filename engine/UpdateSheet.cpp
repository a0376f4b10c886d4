#include "UpdateSheet.h"

#include <cmath>
#include <limits>
#include <string>
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

bool AnalogMissing(float value) {
  return std::isnan(value) || static_cast<double>(value) > kAnalogLimit;
}

// Which value of an accumulator pair a cell receives.
enum class AccumValue { MeterReading = 0, ReducedPower = 1 };

// The state of one pass between set-up and tear-down. Spreadsheet failures travel as
// SpreadsheetError; each is caught where it ends either a row's requests or the row loop.
class Pass {
 public:
  Pass(Worksheet& sheet, ProgressIndicator& progress, TmOperations& tm, PassStatistics& stats)
      : sheet_(sheet), progress_(progress), tm_(tm), stats_(stats) {
    list_.reserve(static_cast<size_t>(kLastListColumn - kFirstListColumn + 1));
  }

  // The row loop; returns the failure flag.
  bool Run() {
    int32_t row = 1;
    while (row <= kLastExaminedRow) {
      try {
        row = Row(row);
      } catch (const SpreadsheetError&) {
        failed_ = true;
        break;
      }
      if (row == kEndOfData) break;
    }
    return failed_;
  }

 private:
  enum class Block { None, Retro, XRetro };
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
    } catch (const SpreadsheetError&) {
      failed_ = true;
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
    } catch (const SpreadsheetError&) {
      failed_ = true;
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

  TmAddress address_;
  int32_t archive_ = 0;
  Block block_ = Block::None;
  // The RETRO address list or the XRETRO time list of the open block.
  std::vector<std::string> list_;
  bool failed_ = false;
};

}  // namespace

bool UpdateSheet(Application& application, int32_t lcid, Worksheet& sheet,
                 ProgressIndicator& progress, TmOperations& tm, PassStatistics* statistics) {
  PassStatistics local;
  PassStatistics& stats = statistics ? *statistics : local;
  stats = {};

  progress.SetPosition(0);
  try {
    // The probe read only tells whether the spreadsheet still answers.
    (void)sheet.CellText(1, 1);
    application.SetCalculation(xlCalculationManual, lcid);
  } catch (const SpreadsheetError&) {
    return true;
  }
  application.SetScreenUpdating(false, lcid);

  bool failed = Pass(sheet, progress, tm, stats).Run();

  FinishProgress(progress);
  application.SetScreenUpdating(true, lcid);
  try {
    (void)sheet.CellText(1, 1);
    application.SetCalculation(xlCalculationAutomatic, lcid);
  } catch (const SpreadsheetError&) {
    failed = true;
  }
  return failed;
}

}  // namespace velt
