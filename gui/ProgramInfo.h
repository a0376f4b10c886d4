// veltexcel --version and --help: answered before Qt starts, so that they work without a
// display (in a terminal over ssh, in a package check).
#pragma once

#include <optional>

namespace velt {

// The exit code when the command line is only --version or --help, after printing the
// answer on stdout; nullopt otherwise (any other single argument is the settings file).
std::optional<int> AnswerProgramInfo(int argc, const char* const* argv);

}  // namespace velt
