// Internal to the LibreOffice backend: cell traffic in bulk while screen updating is off, and the
// cell-by-cell access it shares with the direct path.
//
// A cell reads as its value as text in the user's locale (CellValueText.h): texts as they are,
// numbers by the type of their number format (date/time, boolean, other), error results as the
// empty text. Both paths read through the same bulk call (a 1x1 block for a direct read), so they
// give the same text. Reads are served from blocks fetched with getDataArray: a strip down the
// column on a miss, or a strip along the row when reads walk rightward; the number formats of a
// block's numbers cost a few calls per block, not one per cell. Writes are buffered and stored
// with setDataArray over rectangles of written cells, which may also take in empty cells (no
// content, no note; unlocked on a protected sheet) between them, stored as the empty text that
// leaves them empty: scattered writes down a column then cost one call per run, not per cell.
// Storing leaves the rows' heights as they were (Calc would fit them to the new contents). As
// long as automatic calculation may be on, a write can change any formula's value: it drops every
// fetched block, and a fetch stores the buffer first.
//
// A cell that cannot be written (a locked cell of a protected sheet) is refused by the write
// call itself, buffered or not, before anything is stored: the failure is reported where a
// cell-by-cell write would report it, and the buffer holds only writes that Calc accepts.
#pragma once

#include <com/sun/star/sheet/XSpreadsheet.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "LibreOfficeSession.h"
#include "LibreOfficeWritePlan.h"

namespace velt::lo {

// A value as written: a number (also 16-bit integers) or a literal text.
using CellValue = std::variant<double, std::string>;

// The value texts of a rectangle (1-based, inclusive), row by row. Runs UNO calls: call it
// inside Session::Call.
std::vector<std::string> ReadValueTexts(Session& session, DocumentState& document,
                                        const Reference<css::sheet::XSpreadsheet>& sheet,
                                        int32_t top, int32_t left, int32_t bottom, int32_t right);

// Cell-by-cell access, also used by the batch for single cells. DirectWrite refuses a locked
// cell of a protected sheet (Calc's setValue and setString would write it).
std::string DirectCellText(Session& session, DocumentState& document,
                           const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row,
                           int32_t column);
void DirectWrite(const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row, int32_t column,
                 const CellValue& value);

class Batch {
 public:
  // Buffered cells beyond which the buffer is stored at once.
  static constexpr size_t kMaxPending = 65536;
  static constexpr int32_t kColumnStrip = 512;
  static constexpr int32_t kFirstRowStrip = 32;
  static constexpr int32_t kMaxRowStrip = 1024;

  explicit Batch(Session& session) : session_(session) {}

  bool Active() const { return active_; }
  void Begin() { active_ = true; }
  // Stores the buffer, then forgets everything; the buffer is gone even when storing fails.
  void End();

  // A sheet of `document`; `key` identifies it (several Worksheet objects may stand for one).
  struct SheetRef {
    const Reference<css::sheet::XSpreadsheet>& sheet;
    const void* key;
    const std::shared_ptr<DocumentState>& document;
  };
  std::string Read(const SheetRef& sheet, int32_t row, int32_t column);
  void Write(const SheetRef& sheet, int32_t row, int32_t column, CellValue value);
  // False for a locked cell of a protected sheet, which Write refuses.
  bool Writable(const SheetRef& sheet, int32_t row, int32_t column) {
    return !Locked(Cache(sheet), row, column);
  }
  // Stores the buffer; SpreadsheetError when that fails (the buffer is dropped either way).
  void Flush();
  // Forgets every fetched block (after anything that may change what cells display).
  void DropReads();
  // Forgets everything without storing (the office is being released).
  void Discard();

  size_t Pending() const { return pendingCount_; }

 private:
  struct SheetCache {
    Reference<css::sheet::XSpreadsheet> sheet;
    std::shared_ptr<DocumentState> document;
    std::unordered_map<int64_t, std::string> reads;
    std::map<std::pair<int32_t, int32_t>, CellValue> pending;  // (row, column)
    // Whether the sheet is protected, asked at its first write of the batch; then which cells
    // are locked, fetched in strips down the column.
    std::optional<bool> isProtected;
    std::unordered_map<int64_t, bool> locked;
  };
  static int64_t Key(int32_t row, int32_t column) {
    return (static_cast<int64_t>(row) << 16) | static_cast<int64_t>(column);
  }
  SheetCache& Cache(const SheetRef& sheet);
  // The unwritten cells among `cells` that a bulk store may cover (a few calls).
  Fillable FillableCells(const Reference<css::sheet::XSpreadsheet>& sheet, const SheetCache& cache,
                         const std::vector<std::pair<int32_t, int32_t>>& cells);
  void Fetch(SheetCache& cache, int32_t top, int32_t left, int32_t bottom, int32_t right);
  bool Locked(SheetCache& cache, int32_t row, int32_t column);

  Session& session_;
  bool active_ = false;
  std::map<const void*, SheetCache> sheets_;
  size_t pendingCount_ = 0;
  // The last read and the width of the last row strip, to notice reads walking along a row.
  const void* lastKey_ = nullptr;
  int32_t lastRow_ = 0;
  int32_t lastColumn_ = 0;
  int32_t rowStripRow_ = 0;
  int32_t rowStripWidth_ = 0;
};

}  // namespace velt::lo
