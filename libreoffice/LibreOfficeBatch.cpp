#include "LibreOfficeBatch.h"

#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include "LibreOfficeWritePlan.h"

namespace velt::lo {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

std::string DirectCellText(const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row,
                           int32_t column) {
  Reference<css::text::XText> text(sheet->getCellByPosition(column - 1, row - 1), UNO_QUERY_THROW);
  return ToUtf8(text->getString());
}

void DirectWrite(const Reference<css::sheet::XSpreadsheet>& sheet, int32_t row, int32_t column,
                 const CellValue& value) {
  Reference<css::table::XCell> cell = sheet->getCellByPosition(column - 1, row - 1);
  if (auto number = std::get_if<double>(&value)) {
    cell->setValue(*number);
  } else {
    Reference<css::text::XText> text(cell, UNO_QUERY_THROW);
    text->setString(FromUtf8(std::get<std::string>(value)));
  }
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
  if (found == cache.reads.end()) return DirectCellText(cache.sheet, row, column);
  if (!found->second.known) {
    found->second.text = session_.Call(What{"read cell", row, column},
                                       [&] { return DirectCellText(cache.sheet, row, column); });
    found->second.known = true;
  }
  return found->second.text;
}

void Batch::Fetch(SheetCache& cache, int32_t top, int32_t left, int32_t bottom, int32_t right) {
  Sequence<Sequence<Any>> rows = session_.Call(What{"read cells", top, left}, [&] {
    Reference<css::sheet::XCellRangeData> data(
        cache.sheet->getCellRangeByPosition(left - 1, top - 1, right - 1, bottom - 1),
        UNO_QUERY_THROW);
    return data->getDataArray();
  });
  for (sal_Int32 r = 0; r < rows.getLength(); ++r) {
    const Sequence<Any>& values = rows[r];
    for (sal_Int32 c = 0; c < values.getLength(); ++c) {
      int32_t row = top + r;
      int32_t column = left + c;
      if (cache.pending.count({row, column}) != 0) continue;
      Entry entry;
      // Texts display as they are; numbers and dates through a format, errors as error codes.
      if (values[c].getValueTypeClass() == css::uno::TypeClass_STRING) {
        entry.known = true;
        entry.text = ToUtf8(*static_cast<const rtl::OUString*>(values[c].getValue()));
      }
      cache.reads[Key(row, column)] = std::move(entry);
    }
  }
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
  auto [it, added] = cache.pending.insert_or_assign({row, column}, std::move(value));
  if (added) ++pendingCount_;
  if (pendingCount_ >= kMaxPending) Flush();
}

void Batch::Flush() {
  if (pendingCount_ == 0) return;
  // The buffer is taken first: after a failure nothing is stored twice.
  std::vector<std::pair<Reference<css::sheet::XSpreadsheet>,
                        std::map<std::pair<int32_t, int32_t>, CellValue>>>
      work;
  for (auto& [key, cache] : sheets_) {
    // Writes to a workbook the user has closed since went with it, unsaved.
    if (!cache.pending.empty() && !cache.document->Closed()) {
      work.emplace_back(cache.sheet, std::move(cache.pending));
    }
    cache.pending.clear();
  }
  pendingCount_ = 0;
  try {
    for (auto& [sheet, pending] : work) {
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
            DirectWrite(sheet, cell.first, cell.second, value);
          });
        } else {
          cells.push_back(cell);
        }
      }
      for (const CellRect& rect : PlanWriteRanges(std::move(cells))) {
        // A lone number costs one call less cell by cell, with the same effect.
        const CellValue& first = pending.at({rect.top, rect.left});
        if (rect.top == rect.bottom && rect.left == rect.right &&
            std::holds_alternative<double>(first)) {
          session_.Call(What("write cell", rect.top, rect.left),
                        [&, &sheet = sheet] { DirectWrite(sheet, rect.top, rect.left, first); });
          continue;
        }
        Sequence<Sequence<Any>> rows(rect.bottom - rect.top + 1);
        auto* rowArray = rows.getArray();
        for (int32_t r = rect.top; r <= rect.bottom; ++r) {
          Sequence<Any> values(rect.right - rect.left + 1);
          auto* valueArray = values.getArray();
          for (int32_t c = rect.left; c <= rect.right; ++c) {
            const CellValue& value = pending.at({r, c});
            if (auto number = std::get_if<double>(&value)) {
              valueArray[c - rect.left] <<= *number;
            } else {
              valueArray[c - rect.left] <<= FromUtf8(std::get<std::string>(value));
            }
          }
          rowArray[r - rect.top] = values;
        }
        session_.Call(What("write cells", rect.top, rect.left), [&, &sheet = sheet] {
          Reference<css::sheet::XCellRangeData> data(
              sheet->getCellRangeByPosition(rect.left - 1, rect.top - 1, rect.right - 1,
                                            rect.bottom - 1),
              UNO_QUERY_THROW);
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
