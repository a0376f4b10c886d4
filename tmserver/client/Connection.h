// One handle of libtmconn: the server text's targets, the current link, reconnection with
// back-off and fail-over between the two servers of a pair. All calls are serialised by a mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Link.h"
#include "TmProtocol.h"

namespace velt::tmconn {

// Bounds of every call (documented in tmserver/PROTOCOL.md).
inline constexpr std::chrono::milliseconds kRequestTimeout{2000};
inline constexpr std::chrono::milliseconds kConnectTimeout{2000};  // per server, handshake included
inline constexpr std::chrono::milliseconds kCallLimit{4000};       // one call, reconnects included
// A batch call: the bound of a single call and a share per request, whatever the server sends.
inline constexpr std::chrono::microseconds kBatchPerRequest{1000};
inline constexpr std::chrono::microseconds BatchLimit(size_t requests) {
  return kCallLimit + kBatchPerRequest * static_cast<int64_t>(requests);
}
inline constexpr std::chrono::milliseconds kFirstBackoff{250};
inline constexpr std::chrono::milliseconds kMaxBackoff{2000};

// The targets of a tmcConnect call: host text (null: pair form in server) and server text.
// Empty when the texts name nothing usable (a bad port).
std::vector<Target> ParseTargets(const char* host, const char* server);

class Connection {
 public:
  Connection(std::vector<Target> targets, std::string client);

  // First connection, trying the targets in order. False: no server answered.
  bool Open(Messages& messages);
  void Close();
  bool IsConnected(Messages& messages);

  // One request and its answer. False when there is no link, it broke or timed out, or the
  // answer is not of the expected kind.
  template <class A>
  bool Ask(const tmproto::Request& request, A& answer, Messages& messages) {
    tmproto::Answer any;
    if (!Exchange(request, any, messages)) return false;
    if (const A* a = std::get_if<A>(&any)) {
      answer = *a;
      return true;
    }
    link_.Blame("an answer of the wrong kind");
    LinkLost(messages);  // out of step with the server
    return false;
  }

  // Requests sent pipelined (see Link::Pipeline; frames already encoded). A link that breaks
  // part way is reconnected at once and the unanswered rest sent once more, as a single request
  // would be repeated. Returns how many answers were taken: those requests come first.
  size_t Batch(std::string_view frames, std::span<const size_t> ends, size_t window,
               const Link::TakeAnswer& take, Messages& messages);

  // The mutex that serialises callers; Ask and the others expect it held.
  std::mutex& Mutex() { return mutex_; }

 private:
  bool Exchange(const tmproto::Request& request, tmproto::Answer& answer, Messages& messages);
  bool Reconnect(Clock::time_point limit, Messages& messages);
  bool TryTargets(size_t first, Clock::time_point limit, Messages& messages);
  void LinkLost(Messages& messages);

  std::mutex mutex_;
  std::vector<Target> targets_;
  std::string client_;
  Link link_;
  size_t active_ = 0;
  bool closed_ = false;
  std::chrono::milliseconds backoff_{0};
  Clock::time_point next_attempt_{};
  std::string frame_;  // reused request buffer
};

}  // namespace velt::tmconn
