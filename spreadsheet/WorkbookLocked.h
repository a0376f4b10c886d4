// The workbook is open in another spreadsheet application (its lock file names a live holder).
// Carries who holds it, so that a caller can say so in its own words and language.
#pragma once

#include <string>
#include <utility>

#include "Spreadsheet.h"

namespace velt {

class WorkbookLockedError : public SpreadsheetError {
 public:
  WorkbookLockedError(std::string lock, std::string who, std::string where, std::string when)
      : SpreadsheetError("the workbook is open elsewhere: " + who + " on " + where + " since " +
                         when + " (lock file " + lock + ")"),
        lockFile(std::move(lock)),
        holder(std::move(who)),
        host(std::move(where)),
        since(std::move(when)) {}

  std::string lockFile;
  std::string holder;  // the user named in the lock
  std::string host;
  std::string since;  // as the lock records it
};

}  // namespace velt
