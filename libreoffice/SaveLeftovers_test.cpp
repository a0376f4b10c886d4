// The sweep after an office died during a save, on real files beside a workbook.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SaveLeftovers.h"
#include "TemporaryDirectory.h"

namespace velt::lo {
namespace {

namespace fs = std::filesystem;

TEST(SaveLeftovers, RemovesOnlyTheOfficesNewTemporaryFile) {
  testsupport::TemporaryDirectory dir("velt-leftovers");
  const fs::path book = dir.path() / "day.xlsx";
  auto make = [&](const std::string& name) { std::ofstream(dir.path() / name) << "x"; };
  make("day.xlsx");
  make("lu1old2.tmp");  // there before the save: a person's office may be saving too
  const SaveLeftovers leftovers(book.string());

  make("lu3q8k9s7d.tmp");  // what the office writes during a save
  make("lu_other_app.tmp");
  make("luX.tmp");
  fs::create_directory(dir.path() / "lunch.tmp");
  make("lunch.tmp/inside");
  fs::create_symlink(dir.path() / "day.xlsx", dir.path() / "lu99.tmp");
  leftovers.RemoveNew("file:///nonexistent/profile");

  EXPECT_FALSE(fs::exists(dir.path() / "lu3q8k9s7d.tmp"));
  for (const char* stays : {"day.xlsx", "lu1old2.tmp", "lu_other_app.tmp", "luX.tmp",
                            "lunch.tmp/inside", "lu99.tmp"}) {
    EXPECT_TRUE(fs::exists(dir.path() / stays)) << stays;
  }
}

}  // namespace
}  // namespace velt::lo
