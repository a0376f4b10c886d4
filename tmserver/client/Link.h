// One TCP link to one TM server: a blocking socket whose every wait is bounded by poll().
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "Messages.h"
#include "TmProtocol.h"

namespace velt::tmconn {

using Clock = std::chrono::steady_clock;

// Where to connect: one half of a server text.
struct Target {
  std::string host;  // as given; empty means this machine
  uint16_t port = 0;
  std::string server;  // the name the server must answer to
  std::string label;   // "host:port\server", for messages
};

class Link {
 public:
  Link();
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Connects and shakes hands before the deadline. On failure the link stays closed and a text
  // saying why is added to messages.
  bool Open(const Target& target, const std::string& client, Clock::time_point deadline,
            Messages& messages);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // Takes a socket already connected and greeted (the fuzzer's stand-in for a server).
  void Attach(int fd) {
    Close();
    fd_ = fd;
  }

  enum class Result { kOk, kTimeout, kClosed, kProtocol };

  // Why the last call that failed did so, in a few words ("no answer within 2 s", "a malformed
  // frame: truncated message"); for the link-lost event.
  const std::string& Why() const { return why_; }
  void Blame(std::string why) { why_ = std::move(why); }

  // Sends one request frame and waits for its answer before the deadline, which nothing the
  // server sends extends; server messages met on the way go to messages. Anything but kOk leaves
  // the link unusable (the caller closes it).
  Result Exchange(std::string_view frame, tmproto::Answer& answer, Clock::time_point deadline,
                  Messages& messages);

  // Takes one answer of a pipeline: the answer to request `index`. False: not the kind of
  // answer that request wants, the stream is out of step.
  using TakeAnswer = std::function<bool(size_t index, const tmproto::Answer& answer)>;

  // Sends tagged request frames back to back (`frames` holds them all; frame i ends at ends[i]
  // and carries the identity firstId + i) with at most `window` of them unanswered, reading
  // answers while it writes so that neither side can block the other, and hands each answer to
  // take in request order. Fails when an answer is not there `perAnswer` after its request went
  // out (or after the answer before it), when the deadline passes, or when an answer carries
  // another identity than the one due. Server messages and stray bytes extend neither bound.
  // answered: how many answers were taken, also on failure. Anything but kOk leaves the link
  // unusable.
  Result Pipeline(std::string_view frames, std::span<const size_t> ends, uint32_t firstId,
                  size_t window, const TakeAnswer& take, std::chrono::milliseconds perAnswer,
                  Clock::time_point deadline, size_t& answered, Messages& messages);

  // Without waiting: takes any server messages already received, and tells whether the peer
  // is still there.
  bool Alive(Messages& messages);

 private:
  bool SendAll(std::string_view bytes, Clock::time_point deadline);
  // Reads the next frame that is not a server message. kTimeout also covers a deadline of now.
  Result ReadAnswer(tmproto::Answer& answer, Clock::time_point deadline, Messages& messages);
  // Takes buffered frames: server messages to messages, the first other frame to answer (a
  // tagged answer's inner answer, its identity in tag). Returns kOk with has_answer set when an
  // answer was found.
  struct Tag {
    bool tagged = false;
    uint32_t id = 0;
  };
  Result TakeBuffered(tmproto::Answer& answer, bool& has_answer, Tag& tag, Messages& messages);
  bool Fill(int timeout_ms, Result& failure);
  Result Fail(Result result, std::string why);

  int fd_ = -1;
  std::string why_;
  std::vector<char> buf_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace velt::tmconn
