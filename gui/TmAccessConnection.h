// The main window's TM connection over the program's connection module (libtmconn).
#pragma once

#include <string>

#include "MainWindowLogic.h"
#include "tmaccess.h"

namespace velt {

class TmAccessConnection : public TmConnection {
 public:
  bool Connect(const std::string& serverText, const std::string& clientName) override {
    return tm_.tmaConnect(serverText, clientName) != 0;
  }
  void Disconnect() override { tm_.tmaDisconnect(); }
  TmOperations& Operations() override { return tm_; }

 private:
  TmAccess tm_;
};

}  // namespace velt
