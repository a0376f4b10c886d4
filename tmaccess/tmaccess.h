// The program's one connection to the TM server: server text parsing, the connection handle,
// the pass-through operations and the server message buffer. Texts are UTF-8 here and
// Windows-1251 towards libtmconn. Nothing here throws.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "LinkEvents.h"
#include "Result.h"
#include "TmOperations.h"
#include "tmconn.h"

namespace velt {

// The nine library functions, and the batch extension when the library has it (null when not).
// The default is libtmconn as loaded; tests put recorders in their place.
struct TmcFunctions {
  decltype(&::tmcConnect) connect;
  decltype(&::tmcDisconnect) disconnect;
  decltype(&::tmcIsConnected) isConnected;
  decltype(&::tmcSystemTime) systemTime;
  decltype(&::tmcStatus) status;
  decltype(&::tmcAnalog) analog;
  decltype(&::tmcAccumFull) accumFull;
  decltype(&::tmcEnumObjects) enumObjects;
  decltype(&::tmcGetObjectName) getObjectName;
  TmcBatchFunction batch = nullptr;
  TmcSetLinkCallbackFunction setLinkCallback = nullptr;
};

// The functions of the loaded libtmconn; the extensions are looked up in that library at run
// time, so a library with only the nine functions leaves them null. Such a library tells of its
// link only in its messages, which are not read for link events: what a server may also send is
// no evidence of the link.
TmcFunctions LibraryTmcFunctions();

// The host and server arguments of tmcConnect for a server text. No host (nullopt) is the pair
// form, where the library gets a null host.
struct TmcConnectArguments {
  std::optional<std::string> host;
  std::string server;
  bool operator==(const TmcConnectArguments&) const = default;
};
TmcConnectArguments ParseServerText(const std::string& serverText);

// Server message buffer: the last text the library's message callback gave, at most
// kServerMessageSize characters (Windows-1251, as received). The library may call the callback
// on any of its threads; the buffer is guarded.
inline constexpr uint32_t kServerMessageSize = 80;
void TmaMessageCallback(uint32_t length, const char* text, uint32_t unused);
std::string ServerMessageRaw();
std::string ServerMessage();  // the same, in UTF-8
// Called (on the library's thread, after the buffer is filled) with the new text in UTF-8, whole
// (not cut to the buffer's size).
// Hand it to the event loop; do not call back into the library from it.
void SetServerMessageListener(std::function<void(const std::string&)> listener);

// The library's link events (its link callback, installed by TmAccess): the buffer above gets
// the event's text, as the library used to say it, and the listener the event, texts in UTF-8.
// Server messages never reach this listener.
void TmaLinkCallback(uint32_t event, const char* where, const char* detail);
void SetLinkEventListener(std::function<void(const LinkEvent&)> listener);

class TmAccess : public TmOperations {
 public:
  explicit TmAccess(const TmcFunctions& functions = LibraryTmcFunctions());

  // Returns the library's connected flag (non-zero: connected). Overwrites the handle, open or
  // not; the caller disconnects first.
  int16_t tmaConnect(const std::string& serverText, const std::string& clientName);
  // Always 1.
  int32_t tmaDisconnect();
  // tmaConnect, and why it failed: the library's link events of the attempt, a line each
  // (LinkFailureText), the code the LinkEventKind of the first; a library that tells no link
  // events gives kFailed and the server text.
  Result<> Connect(const std::string& serverText, const std::string& clientName);
  uint32_t Handle() const { return handle_; }

  int32_t tmaSystemTime(char* buffer, uint32_t reserved) override;
  int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) override;
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override;
  uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                        const std::string& time) override;
  uint32_t tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch, uint16_t rtu,
                          uint16_t point) override;
  int16_t tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                           std::string& name, uint32_t size) override;
  // Pipelined through the library's batch extension; one call per request without it.
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override;
  bool HasBatch() const { return fns_.batch != nullptr; }

  // Once giveUp() says so, every request fails at once without asking the library (a
  // connect and a disconnect still go through): a run told to stop ends its pass without
  // waiting on a server that does not let it finish. Checked before each call and between the
  // parts of a batch.
  void SetGiveUp(std::function<bool()> giveUp) { giveUp_ = std::move(giveUp); }

 private:
  bool GaveUp() const { return giveUp_ && giveUp_(); }

  TmcFunctions fns_;
  std::function<bool()> giveUp_;
  uint32_t handle_ = 0;
};

}  // namespace velt
