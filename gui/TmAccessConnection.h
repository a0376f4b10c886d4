// The main window's TM connection over the program's connection module (libtmconn).
#pragma once

#include <QCoreApplication>

#include <chrono>
#include <future>
#include <string>

#include "MainWindowLogic.h"
#include "tmaccess.h"

namespace velt {

class TmAccessConnection : public TmConnection {
 public:
  // The library bounds the attempt; meanwhile the windows stay painted and input waits.
  Result<> Connect(const std::string& serverText, const std::string& clientName) override {
    auto connecting =
        std::async(std::launch::async, [&] { return tm_.Connect(serverText, clientName); });
    while (connecting.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return connecting.get();
  }
  void Disconnect() override { tm_.tmaDisconnect(); }
  TmOperations& Operations() override { return tm_; }

 private:
  TmAccess tm_;
};

}  // namespace velt
