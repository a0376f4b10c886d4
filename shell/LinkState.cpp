#include "LinkState.h"

namespace velt {

void LinkState::Connected(const std::string& server) {
  connected_ = true;
  lost_ = false;
  server_ = server;
  lostSince_.clear();
}

void LinkState::Disconnected() {
  connected_ = false;
  lost_ = false;
}

void LinkState::Tick(bool answered, const std::string& now) {
  if (!connected_) return;
  if (answered) {
    lost_ = false;
    lostSince_.clear();
  } else if (!lost_) {
    lost_ = true;
    lostSince_ = now;
  }
}

void LinkState::PassDone(const std::string& now) {
  if (connected_ && !lost_) lastUpdate_ = now;
}

std::string LinkState::LostLine() const {
  return kTextLinkLost + server_ + " с " + lostSince_;
}

std::string LinkState::TrayHint(const std::string& caption) const {
  std::string hint = caption;
  if (Lost()) hint += "\n" + LostLine();
  if (connected_ && !lastUpdate_.empty()) hint += "\n" + (kTextLastUpdate + lastUpdate_);
  return hint;
}

std::string LinkState::Button1Hint(const std::string& own) const {
  if (!Lost()) return own;
  return own + "\n" + LostLine() + "\n" + kTextLastUpdate +
         (lastUpdate_.empty() ? std::string("не было") : lastUpdate_);
}

}  // namespace velt
