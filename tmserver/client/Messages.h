// What one library call has to tell its caller: the server's messages, kept up to a bound, and
// the link's own events, which travel apart from the server's texts so that no server can pass
// its words off as the library's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velt::tmconn {

// The kinds of link event; the same numbers as TMC_LINK_* in tmconn.h.
enum class LinkKind : uint32_t {
  kConnected = 1,
  kLost = 2,
  kRefused = 3,
  kNothingListens = 4,
  kUnknownHost = 5,
  kNoAnswer = 6,
  kFailed = 7,
};

struct Note {
  bool server = true;  // a server message (text) or a link event (the rest)
  std::string text;    // the message, or the event as one sentence for the message callback
  LinkKind kind = LinkKind::kFailed;
  std::string where;   // "host:port\server"
  std::string detail;  // the server's reason, the resolver's or system's text, why a link broke
};

class Messages {
 public:
  // Server messages kept per call; a flood beyond this is counted, not stored.
  static constexpr size_t kMaxServerMessages = 64;

  void Server(std::string_view text) {
    if (kept_ >= kMaxServerMessages) {
      ++dropped_;
      return;
    }
    ++kept_;
    notes_.push_back(Note{true, std::string(text), {}, {}, {}});
  }
  void Link(LinkKind kind, std::string text, std::string where, std::string detail = {}) {
    notes_.push_back(Note{false, std::move(text), kind, std::move(where), std::move(detail)});
  }

  const std::vector<Note>& Notes() const { return notes_; }
  size_t Dropped() const { return dropped_; }
  bool empty() const { return notes_.empty() && dropped_ == 0; }

 private:
  std::vector<Note> notes_;
  size_t kept_ = 0;
  size_t dropped_ = 0;
};

}  // namespace velt::tmconn
