// What the main window shows of the TM link while connected: whether the server has stopped
// answering on the cycle, since when, and when the sheet was last brought up to date. The
// library reconnects by itself, so the state comes back on the first tick the server answers.
#pragma once

#include <string>

namespace velt {

inline constexpr char kTextLastUpdate[] = "Последнее обновление: ";
inline constexpr char kTextLinkLost[] = "Нет связи с сервером ";

class LinkState {
 public:
  void Connected(const std::string& server);
  void Disconnected();
  // A cycle tick asked the server for its time; `now` is the clock's text at that moment.
  void Tick(bool answered, const std::string& now);
  // A pass ended; it counts as an update while the server answers.
  void PassDone(const std::string& now);

  bool Lost() const { return connected_ && lost_; }
  // The tray's tooltip: the caption, then the link and the last update, one per line.
  std::string TrayHint(const std::string& caption) const;
  // The connect button's hint: its own, then what is wrong with the link.
  std::string Button1Hint(const std::string& own) const;

 private:
  std::string LostLine() const;

  bool connected_ = false;
  bool lost_ = false;
  std::string server_;
  std::string lostSince_;
  std::string lastUpdate_;
};

}  // namespace velt
