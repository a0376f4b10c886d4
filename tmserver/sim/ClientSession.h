// One client's conversation with the simulator, free of sockets: bytes in, bytes out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Database.h"

namespace velt::tmsim {

class ClientSession {
 public:
  using Clock = std::function<int64_t()>;  // civil time now

  ClientSession(const Database& db, const std::string& server_name, Clock clock);

  enum class Outcome { kContinue, kClose };

  // Handles every complete frame at the front of in (and removes them), appending the answers
  // to out. kClose: the peer broke the protocol or was refused; out may still hold a last answer
  // to send, and problem says what went wrong.
  Outcome Feed(std::string& in, std::string& out, std::string& problem);

  bool Greeted() const { return greeted_; }
  const std::string& ClientName() const { return client_; }

 private:
  Outcome Handle(std::string_view payload, std::string& out, std::string& problem);
  Outcome HandleTagged(std::string_view payload, std::string& out, std::string& problem);

  const Database& db_;
  std::string server_name_;
  Clock clock_;
  bool greeted_ = false;
  std::string client_;
};

}  // namespace velt::tmsim
