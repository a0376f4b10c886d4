// Feeds arbitrary server bytes to the client's reader: the first byte picks a single request,
// a batch or the liveness look, the rest is what the "server" sent before closing its end.
// Whatever comes, the reader must neither crash nor hand over an answer it did not check.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Link.h"
#include "TmProtocol.h"

using namespace velt::tmconn;
namespace tp = velt::tmproto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 60000) return 0;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  const int sndbuf = 1 << 18;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  size_t off = 1;
  while (off < size) {
    const ssize_t n = write(fds[1], data + off, size - off);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  shutdown(fds[1], SHUT_WR);

  Link link;
  link.Attach(fds[0]);
  Messages messages;
  const auto deadline = Clock::now() + std::chrono::milliseconds(200);
  switch (data[0] % 3) {
    case 0: {
      std::string frame;
      tp::Encode(tp::StatusRequest{1, 2, 3}, frame);
      tp::Answer answer;
      (void)link.Exchange(frame, answer, deadline, messages);
      break;
    }
    case 1: {
      std::string frames, plain;
      std::vector<size_t> ends;
      for (uint32_t id = 0; id < 8; ++id) {
        plain.clear();
        tp::Encode(tp::AnalogRequest{1, 1, static_cast<uint16_t>(id), 0, "N/A"}, plain);
        tp::EncodeTagged(tp::MsgType::kTagged, id, std::string_view(plain).substr(tp::kHeaderSize),
                         frames);
        ends.push_back(frames.size());
      }
      size_t answered = 0;
      const auto take = [](size_t, const tp::Answer& a) {
        return std::holds_alternative<tp::AnalogAnswer>(a);
      };
      (void)link.Pipeline(frames, ends, 0, 4, take, std::chrono::milliseconds(100), deadline,
                          answered, messages);
      if (answered > ends.size()) abort();
      break;
    }
    default:
      (void)link.Alive(messages);
      break;
  }
  if (messages.Notes().size() > Messages::kMaxServerMessages) abort();
  link.Close();
  close(fds[1]);
  return 0;
}
