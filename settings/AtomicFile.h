// Whole-file reads with a size limit and writes that never leave a half-written file.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace velt {

struct FileReadResult {
  enum class Status { Ok, Missing, Failed };
  Status status = Status::Failed;
  std::string bytes;    // Ok: the file's content
  std::string message;  // Missing, Failed: what went wrong, with the path
};

// Reads a regular file of at most `limit` bytes. A directory, a device, a larger file or an
// I/O error give Failed; a path that names nothing gives Missing.
FileReadResult ReadWholeFile(const std::string& path, std::size_t limit);

struct FileWriteResult {
  bool ok = false;
  std::string message;  // when !ok
};

// Test seam: called between the stages of WriteFileAtomically ("opened", "written",
// "synced"); a crash can be simulated there. Returning false makes the write fail at that
// stage, as if the system had refused it.
using AtomicWriteProbe = std::function<bool(std::string_view stage)>;

// Writes the bytes to a temporary file beside the target, flushes it to the disk and renames
// it over the target, so that readers see either the old or the new content, never a mix. A
// symbolic link at the path is followed, so the file it points to is the one replaced. The
// new file keeps the old one's permission bits. On failure the target is untouched and the
// temporary file is removed.
FileWriteResult WriteFileAtomically(const std::string& path, std::string_view bytes,
                                    const AtomicWriteProbe& probe = {});

}  // namespace velt
