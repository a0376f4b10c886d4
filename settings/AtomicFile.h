// Whole-file reads with a size limit and writes that never leave a half-written file.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "Result.h"

namespace velt {

// Reads a regular file of at most `limit` bytes: its content, or why not, with the path. The
// failure's code is the errno (ENOENT: the path names nothing); a directory, a device or a
// larger file give EINVAL or EFBIG.
Result<std::string> ReadWholeFile(const std::string& path, std::size_t limit);

// Test seam: called between the stages of WriteFileAtomically ("opened", "written",
// "synced"); a crash can be simulated there. Returning false makes the write fail at that
// stage, as if the system had refused it.
using AtomicWriteProbe = std::function<bool(std::string_view stage)>;

// Writes the bytes to a temporary file beside the target, flushes it to the disk and renames
// it over the target, so that readers see either the old or the new content, never a mix. A
// symbolic link at the path is followed, so the file it points to is the one replaced. The
// new file keeps the old one's permission bits. On failure the target is untouched and the
// temporary file is removed. The failure names the file.
Result<> WriteFileAtomically(const std::string& path, std::string_view bytes,
                             const AtomicWriteProbe& probe = {});

}  // namespace velt
