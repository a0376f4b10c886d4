// The files a run writes besides the workbook (--save-as): their kind by the extension, and
// the date fields their file names may hold, expanded when a pass ends.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace velt {

enum class SaveTargetKind { kUnknown, kWorkbook, kPdf, kCsv };

// By the extension, in any letter case: .xls .xlsx .ods, .pdf, .csv.
SaveTargetKind SaveTargetKindOf(const std::string& path);

// The first % field in the file name part of path that is not one of %Y %m %d %H %M %S %j %u
// %V %% ("%q", or "%" at the end); nullopt when there is none. Folders are taken as written.
std::optional<std::string> BadDateField(const std::string& path);

// Whether the file name part holds a date field (so every pass may write another file).
bool HasDateFields(const std::string& path);

// path with the date fields of its file name replaced by the time `local`.
std::string ExpandDateFields(const std::string& path, const std::tm& local);

}  // namespace velt
