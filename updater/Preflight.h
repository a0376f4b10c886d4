// Checks made before connecting, so that a workbook that cannot be filled and saved is refused
// before any request reaches the TM server.
#pragma once

#include <optional>
#include <string>

namespace velt {

struct PreflightProblem {
  int exitCode = 0;
  std::string message;  // a sentence in the reader's language, naming the path and the fix
};

// workbook: the absolute path of the workbook; saveAs: the --save-as path, if given.
std::optional<PreflightProblem> CheckPaths(const std::string& workbook,
                                           const std::optional<std::string>& saveAs);

}  // namespace velt
