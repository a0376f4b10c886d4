// The "lu*.tmp" files the office writes beside a document while it saves it and renames or
// removes at the end. An office killed part way leaves them there for good; after a save that
// failed with the office gone, the ones that appeared during that save are removed.
#pragma once

#include <ctime>
#include <set>
#include <string>

namespace velt::lo {

class SaveLeftovers {
 public:
  // Notes the lu*.tmp files already beside documentPath (a person's office may be saving too).
  explicit SaveLeftovers(const std::string& documentPath);
  // Removes the office's temporary files (plain files "lu<base 36>.tmp" of this user's,
  // written since) that were not there when this was made, and the document's lock file if it
  // names the office's profile (profileUrl). Other programs' files beside the document stay.
  void RemoveNew(const std::string& profileUrl) const;

 private:
  std::set<std::string> Scan() const;

  std::string document_;
  std::string folder_;
  std::set<std::string> before_;
  std::time_t started_;
};

}  // namespace velt::lo
