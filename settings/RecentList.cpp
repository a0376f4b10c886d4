#include "RecentList.h"

#include <algorithm>

namespace velt {

void RecentList::Add(const std::string& path) {
  if (path.empty()) return;
  auto it = std::find(items_.begin(), items_.end(), path);
  if (it != items_.end()) items_.erase(it);
  items_.insert(items_.begin(), path);
  if (items_.size() > kCapacity) items_.resize(kCapacity);
}

std::optional<std::string> RecentList::Choose(std::size_t index) const {
  if (index >= items_.size()) return std::nullopt;
  return items_[index];
}

void RecentList::Load(const std::vector<std::string>& stored) {
  items_.clear();
  for (std::size_t i = stored.size(); i-- > 0;) Add(stored[i]);
}

}  // namespace velt
