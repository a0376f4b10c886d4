// Checks made before connecting, so that a workbook that cannot be filled and saved is refused
// before any request reaches the TM server.
#pragma once

#include <string>
#include <vector>

#include "Result.h"

namespace velt {

// workbook: the absolute path of the workbook, which must be writable when saveWorkbook;
// saveAs: the --save-as paths, whose names must be well formed and whose folders must exist
// and be writable. The failure's code is the exit code; its text a sentence in the reader's
// language, naming the path and the fix.
Result<> CheckPaths(const std::string& workbook, const std::vector<std::string>& saveAs,
                    bool saveWorkbook = true);

}  // namespace velt
