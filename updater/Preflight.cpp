#include "Preflight.h"

#include <unistd.h>

#include <filesystem>

#include "SaveTargets.h"
#include "Translation.h"
#include "Updater.h"

namespace velt {

namespace {

namespace fs = std::filesystem;

// Writable for us, and not marked read-only: a file or folder without any write permission is
// refused even for root, who could write it anyway.
bool Writable(const fs::path& path) {
  std::error_code ec;
  const auto permissions = fs::status(path, ec).permissions();
  if (ec) return false;
  const auto anyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  return access(path.c_str(), W_OK) == 0 && (permissions & anyWrite) != fs::perms::none;
}

fs::path Folder(const fs::path& file) {
  const fs::path parent = file.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

Result<> CheckTarget(const fs::path& target, bool isWorkbook) {
  const fs::path folder = Folder(target);
  if (!Writable(folder)) {
    return Failure{
        kExitNoWorkbook,
        Tr("the folder {} cannot be written, so the workbook cannot be saved there: give this "
           "user write permission on the folder",
           {folder.string()})};
  }
  std::error_code ec;
  if ((isWorkbook || fs::exists(target, ec)) && !Writable(target)) {
    return Failure{kExitNoWorkbook,
                   Tr("the workbook {} is read-only, so it cannot be saved: make it "
                      "writable, or give --save-as another file",
                      {target.string()})};
  }
  return {};
}

// A --save-as path: a known extension and well-formed date fields (bad arguments), then a
// folder that exists, and one this user can write to.
Result<> CheckSaveTarget(const std::string& saveAs) {
  if (const auto field = BadDateField(saveAs)) {
    return Failure{
        kExitBadArguments,
        Tr("--save-as {}: {} is not a date field; the file name may hold %Y %m %d %H %M %S %j "
           "%u %V, and %% for a percent sign",
           {saveAs, *field})};
  }
  std::error_code ec;
  const fs::path target = fs::absolute(saveAs, ec);
  if (SaveTargetKindOf(saveAs) == SaveTargetKind::kUnknown) {
    return Failure{
        kExitBadArguments,
        Tr("--save-as {}: not a known format; name a file ending in .xls, .xlsx, .ods, .pdf or "
           ".csv",
           {saveAs})};
  }
  if (!fs::is_directory(Folder(target), ec)) {
    return Failure{kExitBadArguments, Tr("--save-as {}: the folder {} does not exist",
                                         {saveAs, Folder(target).string()})};
  }
  return CheckTarget(target, false);
}

}  // namespace

Result<> CheckPaths(const std::string& workbook, const std::vector<std::string>& saveAs,
                    bool saveWorkbook) {
  // Bad arguments first: a misspelt name is reported as such, whatever else is wrong.
  Result<> unwritable;
  for (const std::string& target : saveAs) {
    auto checked = CheckSaveTarget(target);
    if (!checked.ok() && checked.error().code == kExitBadArguments) return checked;
    if (!checked.ok() && unwritable.ok()) unwritable = std::move(checked);
  }
  std::error_code ec;
  if (!fs::is_regular_file(workbook, ec)) {
    return Failure{kExitNoWorkbook, Tr("no workbook at {}", {workbook})};
  }
  if (fs::file_size(workbook, ec) == 0 && !ec) {
    return Failure{
        kExitNoWorkbook,
        Tr("the workbook {} is empty (0 bytes): it is no spreadsheet; restore it from a copy",
           {workbook})};
  }
  if (!unwritable.ok()) return unwritable;
  return saveWorkbook ? CheckTarget(workbook, true) : Result<>();
}

}  // namespace velt
