// The nine exported functions of libtmconn.so: handle table, argument checks, callbacks.
#include "tmconn.h"

#include <cfloat>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "Connection.h"

#define TMCONN_EXPORT extern "C" __attribute__((visibility("default")))

namespace velt::tmconn {
namespace {

namespace tp = velt::tmproto;

struct Entry {
  std::shared_ptr<Connection> connection;
  TmcMessageCallback callback = nullptr;
};

std::mutex table_mutex;
std::unordered_map<uint32_t, Entry> table;
uint32_t last_handle = 0;

Entry Find(uint32_t handle) {
  if (handle == 0) return {};
  std::lock_guard lock(table_mutex);
  const auto it = table.find(handle);
  return it == table.end() ? Entry{} : it->second;
}

// Callbacks run after the connection's mutex is released, on the caller's thread.
void Deliver(TmcMessageCallback callback, const Messages& messages) {
  if (callback == nullptr) return;
  for (const std::string& text : messages) {
    callback(static_cast<uint32_t>(text.size()), text.c_str(), 0);
  }
}

// Runs fn(connection, messages) under the connection's mutex, then delivers the messages.
template <class Fn>
auto WithConnection(uint32_t handle, Fn fn)
    -> decltype(fn(std::declval<Connection&>(), std::declval<Messages&>())) {
  const Entry entry = Find(handle);
  using R = decltype(fn(std::declval<Connection&>(), std::declval<Messages&>()));
  if (!entry.connection) return R{};
  Messages messages;
  R result{};
  {
    std::lock_guard lock(entry.connection->Mutex());
    result = fn(*entry.connection, messages);
  }
  Deliver(entry.callback, messages);
  return result;
}

}  // namespace
}  // namespace velt::tmconn

using namespace velt::tmconn;
namespace tp = velt::tmproto;

TMCONN_EXPORT uint32_t tmcConnect(const char* host, const char* server, const char* client,
                                  TmcMessageCallback callback, uint32_t /*reserved*/) {
  std::vector<Target> targets = ParseTargets(host, server);
  if (targets.empty()) return 0;
  auto connection =
      std::make_shared<Connection>(std::move(targets), client != nullptr ? client : "");
  Messages messages;
  bool opened;
  {
    std::lock_guard lock(connection->Mutex());
    opened = connection->Open(messages);
  }
  Deliver(callback, messages);
  if (!opened) return 0;
  std::lock_guard lock(table_mutex);
  do {
    ++last_handle;
  } while (last_handle == 0 || table.contains(last_handle));
  table.emplace(last_handle, Entry{std::move(connection), callback});
  return last_handle;
}

TMCONN_EXPORT int32_t tmcDisconnect(uint32_t handle) {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(table_mutex);
    const auto it = table.find(handle);
    if (it == table.end()) return 0;
    connection = std::move(it->second.connection);
    table.erase(it);
  }
  std::lock_guard lock(connection->Mutex());
  connection->Close();
  return 1;
}

TMCONN_EXPORT int16_t tmcIsConnected(uint32_t handle) {
  return WithConnection(
      handle, [](Connection& c, Messages& m) -> int16_t { return c.IsConnected(m) ? 1 : 0; });
}

TMCONN_EXPORT int32_t tmcSystemTime(uint32_t handle, char* buffer, uint32_t /*reserved*/) {
  if (buffer == nullptr) return 0;
  constexpr size_t kBufferSize = 24;  // what callers guarantee
  return WithConnection(handle, [&](Connection& c, Messages& m) -> int32_t {
    tp::TimeAnswer answer;
    if (!c.Ask(tp::SystemTimeRequest{}, answer, m)) return 0;
    const size_t n = std::min(answer.text.size(), kBufferSize - 1);
    std::memcpy(buffer, answer.text.data(), n);
    buffer[n] = '\0';
    return 1;
  });
}

TMCONN_EXPORT int16_t tmcStatus(uint32_t handle, uint16_t ch, uint16_t rtu, uint16_t point) {
  if (handle == 0) return -1;
  const Entry entry = Find(handle);
  if (!entry.connection) return -1;
  Messages messages;
  int16_t result = -1;
  {
    std::lock_guard lock(entry.connection->Mutex());
    tp::StatusAnswer answer;
    if (entry.connection->Ask(tp::StatusRequest{ch, rtu, point}, answer, messages)) {
      result = answer.value;
    }
  }
  Deliver(entry.callback, messages);
  return result;
}

TMCONN_EXPORT float tmcAnalog(uint32_t handle, uint16_t ch, uint16_t rtu, uint16_t point,
                              const char* time, uint16_t archive) {
  if (time == nullptr) return FLT_MAX;
  const Entry entry = Find(handle);
  if (!entry.connection) return FLT_MAX;
  Messages messages;
  float result = FLT_MAX;
  {
    std::lock_guard lock(entry.connection->Mutex());
    tp::AnalogAnswer answer;
    if (entry.connection->Ask(tp::AnalogRequest{ch, rtu, point, archive, time}, answer, messages) &&
        answer.valid) {
      result = answer.value;
    }
  }
  Deliver(entry.callback, messages);
  return result;
}

TMCONN_EXPORT uint32_t tmcAccumFull(uint32_t handle, uint16_t ch, uint16_t rtu, uint16_t point,
                                    float* values, const char* time) {
  if (values == nullptr || time == nullptr) return 0;
  return WithConnection(handle, [&](Connection& c, Messages& m) -> uint32_t {
    tp::AccumAnswer answer;
    if (!c.Ask(tp::AccumRequest{ch, rtu, point, time}, answer, m) || !answer.valid) return 0;
    values[0] = answer.reading;
    values[1] = answer.power;
    return 1;
  });
}

TMCONN_EXPORT uint32_t tmcEnumObjects(uint32_t handle, uint16_t cls, uint8_t max, uint16_t* buffer,
                                      uint16_t ch, uint16_t rtu, uint16_t point) {
  if (buffer == nullptr || max == 0) return 0;
  return WithConnection(handle, [&](Connection& c, Messages& m) -> uint32_t {
    tp::EnumAnswer answer;
    if (!c.Ask(tp::EnumRequest{cls, max, ch, rtu, point}, answer, m)) return 0;
    const uint8_t n = std::min(answer.count, max);  // never more than the caller made room for
    std::memcpy(buffer, answer.numbers.data(), n * sizeof(uint16_t));
    return n;
  });
}

TMCONN_EXPORT int16_t tmcGetObjectName(uint32_t handle, uint16_t cls, uint16_t ch, uint16_t rtu,
                                       uint16_t point, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  return WithConnection(handle, [&](Connection& c, Messages& m) -> int16_t {
    tp::NameAnswer answer;
    if (!c.Ask(tp::NameRequest{cls, ch, rtu, point}, answer, m) || !answer.valid) return 0;
    const size_t n = std::min<size_t>(answer.name.size(), size - 1);
    std::memcpy(buffer, answer.name.data(), n);
    buffer[n] = '\0';
    return 1;
  });
}
