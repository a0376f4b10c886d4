#include "LibreOfficeBatch.h"

#include <com/sun/star/beans/PropertyState.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XUniqueCellFormatRangesSupplier.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/CellProtection.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XProtectable.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <vector>

#include "CellValueText.h"
#include "LibreOfficeWritePlan.h"
#include "OfficeUser.h"

namespace velt::lo {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

namespace {

bool Overlaps(const css::table::CellRangeAddress& a, const css::table::CellRangeAddress& b) {
  return a.StartRow <= b.EndRow && b.StartRow <= a.EndRow && a.StartColumn <= b.EndColumn &&
         b.StartColumn <= a.EndColumn;
}

// Calls `each` with the parts of `area` (0-based, the address of `range`) and the value that
// the cell property `name` has there: one call pair when the whole area has one value, a few
// calls per group of equally formatted cells otherwise.
void ForEachPropertyArea(
    const Reference<css::table::XCellRange>& range, const css::table::CellRangeAddress& area,
    const char* name,
    const std::function<void(const css::table::CellRangeAddress&, const Any&)>& each) {
  rtl::OUString property = rtl::OUString::createFromAscii(name);
  Reference<css::beans::XPropertyState> state(range, UNO_QUERY_THROW);
  if (state->getPropertyState(property) != css::beans::PropertyState_AMBIGUOUS_VALUE) {
    each(area,
         Reference<css::beans::XPropertySet>(range, UNO_QUERY_THROW)->getPropertyValue(property));
    return;
  }
  Reference<css::container::XIndexAccess> groups(
      Reference<css::sheet::XUniqueCellFormatRangesSupplier>(range, UNO_QUERY_THROW)
          ->getUniqueCellFormatRanges(),
      UNO_QUERY_THROW);
  for (sal_Int32 i = 0, n = groups->getCount(); i < n; ++i) {
    Reference<css::sheet::XSheetCellRanges> group(groups->getByIndex(i), UNO_QUERY_THROW);
    Any value =
        Reference<css::beans::XPropertySet>(group, UNO_QUERY_THROW)->getPropertyValue(property);
    for (const css::table::CellRangeAddress& part : group->getRangeAddresses()) {
      if (!Overlaps(part, area)) continue;
      css::table::CellRangeAddress clipped = part;
      clipped.StartRow = std::max(part.StartRow, area.StartRow);
      clipped.EndRow = std::min(part.EndRow, area.EndRow);
      clipped.StartColumn = std::max(part.StartColumn, area.StartColumn);
      clipped.EndColumn = std::min(part.EndColumn, area.EndColumn);
      each(clipped, value);
    }
  }
}

// The type (css::util::NumberFormat flags) of a number format key of the document.
int16_t FormatType(DocumentState& document, int32_t key) {
  auto found = document.formatTypes.find(key);
  if (found != document.formatTypes.end()) return found->second;
  if (!document.numberFormats.is()) {
    document.numberFormats.set(
        Reference<css::util::XNumberFormatsSupplier>(document.model, UNO_QUERY_THROW)
            ->getNumberFormats(),
        UNO_QUERY_THROW);
  }
  Reference<css::util::XNumberFormats> formats(document.numberFormats, UNO_QUERY_THROW);
  sal_Int16 type = css::util::NumberFormat::NUMBER;
  try {
    formats->getByKey(key)->getPropertyValue("Type") >>= type;
  } catch (const css::uno::RuntimeException&) {
    throw;
  } catch (const css::uno::Exception&) {
    // An unknown key displays as a number.
  }
  document.formatTypes.emplace(key, type);
  return type;
}

std::string NumberText(double value, int16_t type, int32_t lcid) {
  if ((type & (css::util::NumberFormat::DATE | css::util::NumberFormat::TIME)) != 0) {
    return DateTimeValueText(value, lcid);
  }
  if ((type & css::util::NumberFormat::LOGICAL) != 0) return BooleanValueText(value != 0, lcid);
  return NumberValueText(value, lcid);
}

void StoreCell(const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row, int32_t column,
               const CellValue& value) {
  Reference<css::table::XCell> cell = sheet->getCellByPosition(column - 1, row - 1);
  if (auto number = std::get_if<double>(&value)) {
    cell->setValue(*number);
  } else {
    Reference<css::text::XText> text(cell, UNO_QUERY_THROW);
    text->setString(FromUtf8(std::get<std::string>(value)));
  }
}

bool IsLocked(const Any& protection) {
  css::util::CellProtection value;
  return (protection >>= value) ? static_cast<bool>(value.IsLocked) : true;
}

[[noreturn]] void RefuseLocked(int32_t row, int32_t column) {
  throw SpreadsheetError(What("write cell", row, column).Text() +
                         ": the cell is locked and the sheet is protected");
}

// Calc fits the height of every row a store reaches to what the row then shows (the 17 px rows
// of an .xls grow to 19.5 px for a number). The row heights are the user's, and the fitting is
// work nobody asked for: held while the buffer is stored, switched back as they were.
class RowHeightsHeld {
 public:
  RowHeightsHeld(Session& session, const Reference<css::frame::XModel>& model)
      : session_(session), settings_(model, css::uno::UNO_QUERY) {
    if (!settings_.is()) return;
    session_.Call(What("hold row heights"), [&] {
      bool enabled = false;
      if ((settings_->getPropertyValue(Property()) >>= enabled) && enabled) {
        settings_->setPropertyValue(Property(), Any(false));
        held_ = true;
      }
    });
  }
  ~RowHeightsHeld() {
    if (!held_) return;
    try {
      session_.Call(What("release row heights"),
                    [&] { settings_->setPropertyValue(Property(), Any(true)); });
    } catch (...) {
      // An office that fails here fails the next call too; nothing may leave a destructor.
    }
  }
  RowHeightsHeld(const RowHeightsHeld&) = delete;
  RowHeightsHeld& operator=(const RowHeightsHeld&) = delete;

 private:
  static rtl::OUString Property() { return "IsAdjustHeightEnabled"; }
  Session& session_;
  Reference<css::beans::XPropertySet> settings_;
  bool held_ = false;
};

}  // namespace

std::vector<std::string> ReadValueTexts(Session& session, DocumentState& document,
                                        const Reference<css::sheet::XSpreadsheet>& sheet,
                                        int32_t top, int32_t left, int32_t bottom, int32_t right) {
  Reference<css::table::XCellRange> range =
      sheet->getCellRangeByPosition(left - 1, top - 1, right - 1, bottom - 1);
  Sequence<Sequence<Any>> rows =
      Reference<css::sheet::XCellRangeData>(range, UNO_QUERY_THROW)->getDataArray();
  const auto width = static_cast<size_t>(right - left + 1);
  // The place of a cell of the block (0-based row and column within it) in the vectors.
  const auto at = [width](int32_t row, int32_t column) {
    return static_cast<size_t>(row) * width + static_cast<size_t>(column);
  };
  std::vector<std::string> texts(static_cast<size_t>(bottom - top + 1) * width);
  // The numbers, and the smallest rectangle that holds them (0-based within the block).
  std::vector<std::pair<size_t, double>> numbers;
  int32_t nTop = INT32_MAX, nLeft = INT32_MAX, nBottom = -1, nRight = -1;
  for (sal_Int32 r = 0; r < rows.getLength(); ++r) {
    const Sequence<Any>& values = rows[r];
    for (sal_Int32 c = 0; c < values.getLength(); ++c) {
      const Any& value = values[c];
      const size_t index = at(r, c);
      switch (value.getValueTypeClass()) {
        case css::uno::TypeClass_STRING:
          texts[index] = ToUtf8(*static_cast<const rtl::OUString*>(value.getValue()));
          break;
        case css::uno::TypeClass_DOUBLE:
          numbers.emplace_back(index, *static_cast<const double*>(value.getValue()));
          nTop = std::min(nTop, r);
          nBottom = std::max(nBottom, r);
          nLeft = std::min(nLeft, c);
          nRight = std::max(nRight, c);
          break;
        default:
          break;  // an error result: no value, the empty text
      }
    }
  }
  if (numbers.empty()) return texts;

  // The number format of every number: its key, then the key's type.
  const bool whole = nTop == 0 && nLeft == 0 && nBottom == bottom - top && nRight == right - left;
  Reference<css::table::XCellRange> numberRange =
      whole ? range
            : sheet->getCellRangeByPosition(left - 1 + nLeft, top - 1 + nTop, left - 1 + nRight,
                                            top - 1 + nBottom);
  css::table::CellRangeAddress area;
  area.StartRow = top - 1 + nTop;
  area.EndRow = top - 1 + nBottom;
  area.StartColumn = left - 1 + nLeft;
  area.EndColumn = left - 1 + nRight;
  std::vector<int32_t> keys(texts.size(), 0);
  ForEachPropertyArea(numberRange, area, "NumberFormat",
                      [&](const css::table::CellRangeAddress& part, const Any& value) {
                        sal_Int32 key = 0;
                        value >>= key;
                        for (sal_Int32 r = part.StartRow; r <= part.EndRow; ++r) {
                          for (sal_Int32 c = part.StartColumn; c <= part.EndColumn; ++c) {
                            keys[at(r - (top - 1), c - (left - 1))] = key;
                          }
                        }
                      });
  for (auto [index, value] : numbers) {
    texts[index] = NumberText(value, FormatType(document, keys[index]), session.Lcid());
  }
  return texts;
}

std::string DirectCellText(Session& session, DocumentState& document,
                           const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row,
                           int32_t column) {
  return ReadValueTexts(session, document, sheet, row, column, row, column).front();
}

void DirectWrite(const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row, int32_t column,
                 const CellValue& value) {
  Reference<css::util::XProtectable> protectable(sheet, UNO_QUERY_THROW);
  if (protectable->isProtected()) {
    Reference<css::beans::XPropertySet> cell(sheet->getCellByPosition(column - 1, row - 1),
                                             UNO_QUERY_THROW);
    if (IsLocked(cell->getPropertyValue("CellProtection"))) RefuseLocked(row, column);
  }
  StoreCell(sheet, row, column, value);
}

Batch::SheetCache& Batch::Cache(const SheetRef& ref) {
  auto [it, added] = sheets_.try_emplace(ref.key);
  if (added) {
    it->second.sheet = ref.sheet;
    it->second.document = ref.document;
  }
  return it->second;
}

std::string Batch::Read(const SheetRef& ref, int32_t row, int32_t column) {
  SheetCache& cache = Cache(ref);
  const void* key = ref.key;
  // A buffered write must reach the cell before the cell is read: its display is Calc's.
  if (cache.pending.count({row, column}) != 0) Flush();

  auto found = cache.reads.find(Key(row, column));
  if (found == cache.reads.end()) {
    // With automatic calculation a buffered write may change what any formula shows.
    if (session_.autoCalculation && pendingCount_ > 0) Flush();
    bool rightward = lastKey_ == key && lastRow_ == row && lastColumn_ == column - 1;
    if (rightward) {
      rowStripWidth_ = rowStripRow_ == row && rowStripWidth_ > 0
                           ? std::min(rowStripWidth_ * 2, kMaxRowStrip)
                           : kFirstRowStrip;
      rowStripRow_ = row;
      Fetch(cache, row, column, row, std::min(column + rowStripWidth_ - 1, kMaxColumns));
    } else {
      Fetch(cache, row, column, std::min(row + kColumnStrip - 1, kMaxRows), column);
    }
    found = cache.reads.find(Key(row, column));
  }
  lastKey_ = key;
  lastRow_ = row;
  lastColumn_ = column;
  if (found == cache.reads.end()) {
    return DirectCellText(session_, *cache.document, cache.sheet, row, column);
  }
  return found->second;
}

void Batch::Fetch(SheetCache& cache, int32_t top, int32_t left, int32_t bottom, int32_t right) {
  std::vector<std::string> texts = session_.Call(What{"read cells", top, left}, [&] {
    return ReadValueTexts(session_, *cache.document, cache.sheet, top, left, bottom, right);
  });
  const auto width = static_cast<size_t>(right - left + 1);
  for (int32_t row = top; row <= bottom; ++row) {
    for (int32_t column = left; column <= right; ++column) {
      if (cache.pending.count({row, column}) != 0) continue;
      cache.reads[Key(row, column)] = std::move(
          texts[static_cast<size_t>(row - top) * width + static_cast<size_t>(column - left)]);
    }
  }
}

bool Batch::Locked(SheetCache& cache, int32_t row, int32_t column) {
  if (!cache.isProtected) {
    cache.isProtected = session_.Call(What{"write cell", row, column}, [&] {
      return static_cast<bool>(
          Reference<css::util::XProtectable>(cache.sheet, UNO_QUERY_THROW)->isProtected());
    });
  }
  if (!*cache.isProtected) return false;
  auto found = cache.locked.find(Key(row, column));
  if (found != cache.locked.end()) return found->second;
  // A strip down the column, as the pass writes its results.
  const int32_t bottom = std::min(row + kColumnStrip - 1, kMaxRows);
  session_.Call(What{"write cell", row, column}, [&] {
    css::table::CellRangeAddress area;
    area.StartRow = row - 1;
    area.EndRow = bottom - 1;
    area.StartColumn = column - 1;
    area.EndColumn = column - 1;
    ForEachPropertyArea(
        cache.sheet->getCellRangeByPosition(column - 1, row - 1, column - 1, bottom - 1), area,
        "CellProtection", [&](const css::table::CellRangeAddress& part, const Any& value) {
          const bool locked = IsLocked(value);
          for (sal_Int32 r = part.StartRow; r <= part.EndRow; ++r) {
            cache.locked[Key(r + 1, column)] = locked;
          }
        });
  });
  found = cache.locked.find(Key(row, column));
  return found == cache.locked.end() || found->second;
}

void Batch::Write(const SheetRef& ref, int32_t row, int32_t column, CellValue value) {
  SheetCache& cache = Cache(ref);
  if (session_.autoCalculation) {
    DropReads();
  } else {
    cache.reads.erase(Key(row, column));
  }
  auto number = std::get_if<double>(&value);
  if (!CellInRange(row, column) || (number && !std::isfinite(*number))) {
    // Out of range fails now, as it would cell by cell; a non-finite number is Calc's to store.
    if (cache.pending.erase({row, column}) != 0) --pendingCount_;
    session_.Call(What{"write cell", row, column},
                  [&] { DirectWrite(cache.sheet, row, column, value); });
    return;
  }
  // Refused now, as cell by cell, and never buffered: what is buffered can be stored.
  if (Locked(cache, row, column)) {
    session_.Call(What{"write cell", row, column}, [&] { RefuseLocked(row, column); });
  }
  auto [it, added] = cache.pending.insert_or_assign({row, column}, std::move(value));
  if (added) ++pendingCount_;
  if (pendingCount_ >= kMaxPending) Flush();
}

Fillable Batch::FillableCells(const Reference<css::sheet::XSpreadsheet>& sheet,
                              const SheetCache& cache,
                              const std::vector<std::pair<int32_t, int32_t>>& cells) {
  if (cells.size() < 2) return {};
  int32_t top = INT32_MAX, left = INT32_MAX, bottom = 0, right = 0;
  for (auto [row, column] : cells) {
    top = std::min(top, row);
    bottom = std::max(bottom, row);
    left = std::min(left, column);
    right = std::max(right, column);
  }
  // The cells with any content or a note: a bulk store empties its cells (a note goes too),
  // so only a cell that holds nothing comes out as it was.
  Sequence<css::table::CellRangeAddress> occupied =
      session_.Call(What("find empty cells", top, left), [&] {
        Reference<css::sheet::XCellRangesQuery> query(
            sheet->getCellRangeByPosition(left - 1, top - 1, right - 1, bottom - 1),
            UNO_QUERY_THROW);
        return query
            ->queryContentCells(css::sheet::CellFlags::VALUE | css::sheet::CellFlags::DATETIME |
                                css::sheet::CellFlags::STRING | css::sheet::CellFlags::FORMULA |
                                css::sheet::CellFlags::ANNOTATION)
            ->getRangeAddresses();
      });
  // Per column (1-based), the occupied row spans (1-based, inclusive), sorted.
  auto spans = std::make_shared<std::map<int32_t, std::vector<std::pair<int32_t, int32_t>>>>();
  for (const auto& r : occupied) {
    for (sal_Int32 c = std::max(r.StartColumn + 1, left); c <= std::min(r.EndColumn + 1, right);
         ++c) {
      (*spans)[c].emplace_back(r.StartRow + 1, r.EndRow + 1);
    }
  }
  for (auto& [column, list] : *spans) std::sort(list.begin(), list.end());
  // On a protected sheet a bulk store is refused when it covers a locked cell: only cells known
  // to be unlocked are covered there.
  const bool isProtected = cache.isProtected.value_or(true);
  const std::unordered_map<int64_t, bool>* locked = &cache.locked;
  return [spans, isProtected, locked](int32_t row, int32_t column) {
    if (isProtected) {
      auto found = locked->find(Key(row, column));
      if (found == locked->end() || found->second) return false;
    }
    auto list = spans->find(column);
    if (list == spans->end()) return true;
    auto after =
        std::upper_bound(list->second.begin(), list->second.end(), std::make_pair(row, INT32_MAX));
    return after == list->second.begin() || std::prev(after)->second < row;
  };
}

void Batch::Flush() {
  if (pendingCount_ == 0) return;
  // The buffer is taken first: after a failure nothing is stored twice.
  struct Work {
    Reference<css::sheet::XSpreadsheet> sheet;
    std::map<std::pair<int32_t, int32_t>, CellValue> pending;
    const SheetCache* cache;
  };
  std::vector<Work> work;
  for (auto& [key, cache] : sheets_) {
    // Writes to a workbook the user has closed since went with it, unsaved.
    if (!cache.pending.empty() && !cache.document->Closed()) {
      work.push_back({cache.sheet, std::move(cache.pending), &cache});
    }
    cache.pending.clear();
  }
  pendingCount_ = 0;
  try {
    for (auto& [sheet, pending, cache] : work) {
      const RowHeightsHeld heights(session_, cache->document->model);
      // A bulk store clears the cells' notes first; setValue and setString keep them. Cells
      // with a note are written one by one.
      Sequence<css::table::CellRangeAddress> noted =
          session_.Call(What("find notes"), [&, &sheet = sheet] {
            Reference<css::sheet::XCellRangesQuery> query(sheet, UNO_QUERY_THROW);
            return query->queryContentCells(css::sheet::CellFlags::ANNOTATION)->getRangeAddresses();
          });
      auto hasNote = [&](int32_t row, int32_t column) {
        for (const auto& r : noted) {
          if (row - 1 >= r.StartRow && row - 1 <= r.EndRow && column - 1 >= r.StartColumn &&
              column - 1 <= r.EndColumn) {
            return true;
          }
        }
        return false;
      };
      std::vector<std::pair<int32_t, int32_t>> cells;
      cells.reserve(pending.size());
      for (auto& [cell, value] : pending) {
        if (noted.hasElements() && hasNote(cell.first, cell.second)) {
          session_.Call(What("write cell", cell.first, cell.second), [&, &sheet = sheet] {
            KeepUndoLocked(*cache->document);
            StoreCell(sheet, cell.first, cell.second, value);
          });
        } else {
          cells.push_back(cell);
        }
      }
      const Fillable fillable = FillableCells(sheet, *cache, cells);
      for (const CellRect& rect : PlanWriteRanges(std::move(cells), fillable)) {
        // A lone number costs one call less cell by cell, with the same effect.
        const CellValue& first = pending.at({rect.top, rect.left});
        if (rect.top == rect.bottom && rect.left == rect.right &&
            std::holds_alternative<double>(first)) {
          session_.Call(What("write cell", rect.top, rect.left), [&, &sheet = sheet] {
            KeepUndoLocked(*cache->document);
            StoreCell(sheet, rect.top, rect.left, first);
          });
          continue;
        }
        Sequence<Sequence<Any>> rows(rect.bottom - rect.top + 1);
        auto* rowArray = rows.getArray();
        for (int32_t r = rect.top; r <= rect.bottom; ++r) {
          Sequence<Any> values(rect.right - rect.left + 1);
          auto* valueArray = values.getArray();
          for (int32_t c = rect.left; c <= rect.right; ++c) {
            auto written = pending.find({r, c});
            if (written == pending.end()) {
              // A covered empty cell: the empty text leaves it empty.
              valueArray[c - rect.left] <<= rtl::OUString();
            } else if (auto number = std::get_if<double>(&written->second)) {
              valueArray[c - rect.left] <<= *number;
            } else {
              valueArray[c - rect.left] <<= FromUtf8(std::get<std::string>(written->second));
            }
          }
          rowArray[r - rect.top] = values;
        }
        session_.Call(What("write cells", rect.top, rect.left), [&, &sheet = sheet] {
          Reference<css::sheet::XCellRangeData> data(
              sheet->getCellRangeByPosition(rect.left - 1, rect.top - 1, rect.right - 1,
                                            rect.bottom - 1),
              UNO_QUERY_THROW);
          KeepUndoLocked(*cache->document);
          data->setDataArray(rows);
        });
      }
    }
  } catch (...) {
    DropReads();
    throw;
  }
}

void Batch::DropReads() {
  for (auto& [key, cache] : sheets_) cache.reads.clear();
  lastKey_ = nullptr;
}

void Batch::Discard() {
  sheets_.clear();
  pendingCount_ = 0;
  lastKey_ = nullptr;
  rowStripRow_ = 0;
  rowStripWidth_ = 0;
  active_ = false;
}

void Batch::End() {
  try {
    Flush();
  } catch (...) {
    Discard();
    throw;
  }
  Discard();
}

}  // namespace velt::lo
