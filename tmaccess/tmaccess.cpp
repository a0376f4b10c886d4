#include "tmaccess.h"

#include <dlfcn.h>

#include <array>
#include <cfloat>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "AsciiText.h"
#include "Cp1251.h"
#include "TmProtocol.h"

namespace velt {

// The operations pass class codes and the current-value time to the library unchanged: the
// interface's codes are the wire's, and this keeps them so.
static_assert(kClassChannel == tmproto::kClassChannel && kClassRtu == tmproto::kClassRtu &&
              kClassStatus == tmproto::kClassStatus && kClassAnalog == tmproto::kClassAnalog &&
              kClassAccum == tmproto::kClassAccum);
static_assert(std::string_view(kCurrentTime) == tmproto::kCurrentTime);

TmcFunctions LibraryTmcFunctions() {
  TmcFunctions fns{::tmcConnect, ::tmcDisconnect, ::tmcIsConnected, ::tmcSystemTime,   ::tmcStatus,
                   ::tmcAnalog,  ::tmcAccumFull,  ::tmcEnumObjects, ::tmcGetObjectName};
  // The extension is looked for in the very library that gave tmcConnect: another vendor's
  // libtmconn.so in its place may not have it.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&::tmcConnect), &info) != 0 && info.dli_fname != nullptr) {
    if (void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
      fns.batch = reinterpret_cast<TmcBatchFunction>(dlsym(library, TMC_BATCH_SYMBOL));
      fns.setLinkCallback =
          reinterpret_cast<TmcSetLinkCallbackFunction>(dlsym(library, TMC_LINK_SYMBOL));
      dlclose(library);  // still loaded: the program links it
    }
  }
  return fns;
}

namespace {

std::string Trim(std::string_view s) {
  return std::string(TrimControls(s));
}

std::string WithServer(std::string part) {
  if (part.find('\\') == std::string::npos) part += "\\TMS";
  return part;
}

// The callback has no context pointer, so its buffer lives here.
std::mutex message_mutex;
std::array<char, kServerMessageSize + 1> message_buffer{};
std::function<void(const std::string&)> message_listener;
std::function<void(const LinkEvent&)> link_listener;
// The failures the library reports while TmAccess::Connect waits for it.
bool collecting_failures = false;
std::vector<LinkEvent> connect_failures;

void KeepInBuffer(std::string_view text) {
  const size_t n = std::min(text.size(), static_cast<size_t>(kServerMessageSize));
  std::memcpy(message_buffer.data(), text.data(), n);
  message_buffer[n] = '\0';
}

}  // namespace

TmcConnectArguments ParseServerText(const std::string& text) {
  const size_t open = text.find('{');
  if (open != std::string::npos) {
    const size_t close = text.find('}');
    std::string a = text.substr(0, open);
    std::string b;
    if (close != std::string::npos && close > open) b = text.substr(open + 1, close - open - 1);
    return {std::nullopt, WithServer(a) + "{" + WithServer(b) + "}"};
  }
  const size_t slash = text.rfind('\\');
  if (slash != std::string::npos) {
    return {Trim(text.substr(0, slash)), Trim(text.substr(slash + 1))};
  }
  return {Trim(text), "TMS"};
}

void TmaMessageCallback(uint32_t length, const char* text, uint32_t /*unused*/) {
  std::string utf8;
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard lock(message_mutex);
    const size_t n = text == nullptr ? 0 : strnlen(text, std::min(length, kServerMessageSize));
    if (n > 0) std::memcpy(message_buffer.data(), text, n);
    message_buffer[n] = '\0';
    listener = message_listener;
    // The listener hears the whole text: a server's refusal may well be longer than the buffer.
    if (listener && text != nullptr)
      utf8 = Cp1251ToUtf8(std::string_view(text, strnlen(text, length)));
  }
  if (listener) listener(utf8);
}

std::string ServerMessageRaw() {
  std::lock_guard lock(message_mutex);
  return std::string(message_buffer.data());
}

std::string ServerMessage() {
  return Cp1251ToUtf8(ServerMessageRaw());
}

void SetServerMessageListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(message_mutex);
  message_listener = std::move(listener);
}

void TmaLinkCallback(uint32_t event, const char* where, const char* detail) {
  std::function<void(const LinkEvent&)> listener;
  LinkEvent e;
  try {
    e = LinkEventOf(event, where ? Cp1251ToUtf8(where) : std::string(),
                    detail ? Cp1251ToUtf8(detail) : std::string());
    std::lock_guard lock(message_mutex);
    KeepInBuffer(Utf8ToCp1251(LinkEventText(e)));
    listener = link_listener;
    const bool failure = e.kind != LinkEventKind::kConnected && e.kind != LinkEventKind::kOther;
    if (collecting_failures && failure) connect_failures.push_back(e);
  } catch (...) {
    return;
  }
  if (listener) listener(e);
}

void SetLinkEventListener(std::function<void(const LinkEvent&)> listener) {
  std::lock_guard lock(message_mutex);
  link_listener = std::move(listener);
}

TmAccess::TmAccess(const TmcFunctions& functions) : fns_(functions) {
  if (fns_.setLinkCallback != nullptr) fns_.setLinkCallback(TmaLinkCallback);
}

int16_t TmAccess::tmaConnect(const std::string& serverText, const std::string& clientName) {
  try {
    const TmcConnectArguments args = ParseServerText(serverText);
    const std::optional<std::string> host =
        args.host ? std::optional(Utf8ToCp1251(*args.host)) : std::nullopt;
    const std::string server = Utf8ToCp1251(args.server);
    const std::string client = Utf8ToCp1251(clientName);
    handle_ = fns_.connect(host ? host->c_str() : nullptr, server.c_str(), client.c_str(),
                           TmaMessageCallback, 0);
  } catch (...) {
    handle_ = 0;
  }
  if (handle_ == 0) return 0;
  // Keeps the link active at once, as the cycle timer does later; the time itself is not used.
  char time[81] = {};
  fns_.systemTime(handle_, time, 0);
  return fns_.isConnected(handle_);
}

Result<> TmAccess::Connect(const std::string& serverText, const std::string& clientName) {
  {
    std::lock_guard lock(message_mutex);
    collecting_failures = true;
    connect_failures.clear();
  }
  const bool connected = tmaConnect(serverText, clientName) != 0;
  std::vector<LinkEvent> failures;
  {
    std::lock_guard lock(message_mutex);
    collecting_failures = false;
    failures.swap(connect_failures);
  }
  if (connected) return {};
  if (failures.empty()) return Failure{static_cast<int>(LinkEventKind::kFailed), serverText};
  return Failure{static_cast<int>(failures.front().kind), LinkFailuresText(failures, "\n")};
}

int32_t TmAccess::tmaDisconnect() {
  if (handle_ != 0) {
    fns_.disconnect(handle_);
    handle_ = 0;
  }
  return 1;
}

int32_t TmAccess::tmaSystemTime(char* buffer, uint32_t reserved) {
  if (GaveUp()) return 0;
  return fns_.systemTime(handle_, buffer, reserved);
}

int16_t TmAccess::tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) {
  if (GaveUp()) return -1;
  return fns_.status(handle_, ch, rtu, point);
}

float TmAccess::tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                          uint16_t archive) {
  if (GaveUp()) return FLT_MAX;
  try {
    return fns_.analog(handle_, ch, rtu, point, Utf8ToCp1251(time).c_str(), archive);
  } catch (...) {
    return FLT_MAX;
  }
}

uint32_t TmAccess::tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                                const std::string& time) {
  if (GaveUp()) return 0;
  try {
    return fns_.accumFull(handle_, ch, rtu, point, values, Utf8ToCp1251(time).c_str());
  } catch (...) {
    return 0;
  }
}

uint32_t TmAccess::tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch,
                                  uint16_t rtu, uint16_t point) {
  if (GaveUp()) return 0;
  return fns_.enumObjects(handle_, cls, max, buffer, ch, rtu, point);
}

int16_t TmAccess::tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                                   std::string& name, uint32_t size) {
  // Sizes the callers use fit on the stack; larger ones are capped rather than trusted.
  constexpr uint32_t kStackSize = 1024;
  constexpr uint32_t kMaxSize = 65536;
  if (GaveUp()) {
    name.clear();
    return kTmaFalse;
  }
  try {
    std::array<char, kStackSize> stack;
    std::vector<char> heap;
    const uint32_t given = std::min(size, kMaxSize);
    char* buffer = stack.data();
    if (given > kStackSize) {
      heap.resize(given);
      buffer = heap.data();
    }
    const int16_t result = fns_.getObjectName(handle_, cls, ch, rtu, point, buffer, given);
    if (result == kTmaTrue && given > 0) {
      name = Cp1251ToUtf8(std::string_view(buffer, strnlen(buffer, given)));
    } else {
      name.clear();
    }
    return result;
  } catch (...) {
    name.clear();
    return kTmaFalse;
  }
}

void TmAccess::tmaBatch(std::span<const TmBatchRequest> requests,
                        std::span<TmBatchAnswer> answers) {
  const size_t count = std::min(requests.size(), answers.size());
  if (fns_.batch == nullptr || count == 0) {
    AnswerOneByOne(*this, requests.first(count), answers.first(count));
    return;
  }
  // Bounds the memory and the time of one library call (its bound grows with its size); the
  // requests go out in order all the same.
  constexpr size_t kChunk = 4096;
  constexpr uint32_t kMaxNameSize = 65536;
  for (size_t first = 0; first < count; first += kChunk) {
    const size_t n = std::min(kChunk, count - first);
    std::vector<TmcBatchItem> items(n);
    std::vector<std::string> times(n);
    std::vector<std::vector<char>> names(n);
    for (size_t i = 0; i < n; ++i) {
      const TmBatchRequest& q = requests[first + i];
      TmBatchAnswer& a = answers[first + i];
      a = TmBatchAnswer{};
      TmcBatchItem& item = items[i];
      item.cls = q.cls;
      item.ch = q.ch;
      item.rtu = q.rtu;
      item.point = q.point;
      item.archive = q.archive;
      item.max = q.max;
      switch (q.kind) {
        case TmBatchRequest::Kind::Status:
          item.kind = TMC_BATCH_STATUS;
          break;
        case TmBatchRequest::Kind::Analog:
        case TmBatchRequest::Kind::AccumFull:
          item.kind = q.kind == TmBatchRequest::Kind::Analog ? TMC_BATCH_ANALOG : TMC_BATCH_ACCUM;
          try {
            times[i] = Utf8ToCp1251(q.time);
            item.time = times[i].c_str();
          } catch (...) {
            item.time = nullptr;  // fails that request alone, as the single call would
          }
          break;
        case TmBatchRequest::Kind::EnumObjects:
          item.kind = TMC_BATCH_ENUM;
          a.numbers.resize(q.max);
          item.numbers = a.numbers.data();
          break;
        case TmBatchRequest::Kind::GetObjectName:
          item.kind = TMC_BATCH_NAME;
          item.size = std::min(q.size, kMaxNameSize);
          names[i].resize(item.size);
          item.name = names[i].data();
          break;
      }
    }
    if (GaveUp()) {
      for (TmcBatchItem& item : items) {
        item.status = -1;
        item.analog = FLT_MAX;
      }
    } else {
      fns_.batch(handle_, items.data(), static_cast<uint32_t>(n), 0);
    }
    for (size_t i = 0; i < n; ++i) {
      const TmcBatchItem& item = items[i];
      TmBatchAnswer& a = answers[first + i];
      switch (requests[first + i].kind) {
        case TmBatchRequest::Kind::Status:
          a.status = item.status;
          break;
        case TmBatchRequest::Kind::Analog:
          a.analog = item.analog;
          break;
        case TmBatchRequest::Kind::AccumFull:
          a.result = item.result;
          a.values[0] = item.values[0];
          a.values[1] = item.values[1];
          break;
        case TmBatchRequest::Kind::EnumObjects:
          a.result = item.result;
          a.numbers.resize(std::min<size_t>(item.result & 0xFFu, a.numbers.size()));
          break;
        case TmBatchRequest::Kind::GetObjectName:
          a.named = static_cast<int16_t>(item.result);
          if (a.named == kTmaTrue && item.size > 0) {
            try {
              a.name = Cp1251ToUtf8(std::string_view(item.name, strnlen(item.name, item.size)));
            } catch (...) {
              a.named = kTmaFalse;
            }
          }
          break;
      }
    }
  }
}

}  // namespace velt
