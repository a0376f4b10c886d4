// The list of recently opened workbooks: at most ten paths, the most recent first.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velt {

class RecentList {
 public:
  static constexpr std::size_t kCapacity = 10;

  // Puts the path at the top; a path already listed moves there; beyond ten entries the
  // oldest drops off. An empty path is ignored. Paths compare exactly (Linux file names are
  // case-sensitive).
  void Add(const std::string& path);

  // The entry chosen from the menu. Choosing never reorders the list.
  std::optional<std::string> Choose(std::size_t index) const;

  // Replaces the list by the stored entries, given by index (0 the most recent). They are
  // taken from the highest index down to 0, each put at the top, empty ones skipped, so the
  // stored order survives and duplicates collapse onto their most recent position.
  void Load(const std::vector<std::string>& stored);

  void Clear() { items_.clear(); }
  const std::vector<std::string>& Items() const { return items_; }
  std::size_t Size() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }

 private:
  std::vector<std::string> items_;
};

}  // namespace velt
