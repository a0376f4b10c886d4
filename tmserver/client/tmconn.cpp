// The nine exported functions of libtmconn.so: handle table, argument checks, callbacks.
#include "tmconn.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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

// Set by tmcSetLinkCallback: link events go there instead of the message callback.
std::atomic<TmcLinkCallback> link_callback{nullptr};

// Callbacks run after the connection's mutex is released, on the caller's thread.
void Deliver(TmcMessageCallback callback, const Messages& messages) {
  const TmcLinkCallback link = link_callback.load();
  for (const Note& note : messages.Notes()) {
    if (!note.server && link != nullptr) {
      link(static_cast<uint32_t>(note.kind), note.where.c_str(), note.detail.c_str());
    } else if (callback != nullptr) {
      callback(static_cast<uint32_t>(note.text.size()), note.text.c_str(), 0);
    }
  }
  if (messages.Dropped() > 0 && callback != nullptr) {
    // Said once per call, however long the flood.
    const std::string text =
        std::to_string(messages.Dropped()) + " more messages from the server were dropped";
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

namespace {

// Failure values first: whatever is not answered keeps them.
void SetFailed(TmcBatchItem& item) {
  item.status = -1;
  item.analog = FLT_MAX;
  item.result = 0;
}

// The request of an item, or nothing when the single call would fail its arguments at once.
std::optional<tp::Request> RequestOf(const TmcBatchItem& item) {
  switch (item.kind) {
    case TMC_BATCH_STATUS:
      return tp::StatusRequest{item.ch, item.rtu, item.point};
    case TMC_BATCH_ANALOG:
      if (item.time == nullptr) return std::nullopt;
      return tp::AnalogRequest{item.ch, item.rtu, item.point, item.archive, item.time};
    case TMC_BATCH_ACCUM:
      if (item.time == nullptr) return std::nullopt;
      return tp::AccumRequest{item.ch, item.rtu, item.point, item.time};
    case TMC_BATCH_ENUM:
      if (item.numbers == nullptr || item.max == 0) return std::nullopt;
      return tp::EnumRequest{item.cls, item.max, item.ch, item.rtu, item.point};
    case TMC_BATCH_NAME:
      if (item.name == nullptr || item.size == 0) return std::nullopt;
      return tp::NameRequest{item.cls, item.ch, item.rtu, item.point};
    default:
      return std::nullopt;
  }
}

// Stores an answer into its item as the single call of that kind would. False: an answer of
// another kind.
bool Store(TmcBatchItem& item, const tp::Answer& any) {
  switch (item.kind) {
    case TMC_BATCH_STATUS: {
      const auto* a = std::get_if<tp::StatusAnswer>(&any);
      if (a != nullptr) item.status = a->value;
      return a != nullptr;
    }
    case TMC_BATCH_ANALOG: {
      const auto* a = std::get_if<tp::AnalogAnswer>(&any);
      if (a != nullptr && a->valid) item.analog = a->value;
      return a != nullptr;
    }
    case TMC_BATCH_ACCUM: {
      const auto* a = std::get_if<tp::AccumAnswer>(&any);
      if (a != nullptr && a->valid) {
        item.values[0] = a->reading;
        item.values[1] = a->power;
        item.result = 1;
      }
      return a != nullptr;
    }
    case TMC_BATCH_ENUM: {
      const auto* a = std::get_if<tp::EnumAnswer>(&any);
      if (a == nullptr) return false;
      const uint8_t n = std::min(a->count, item.max);
      std::memcpy(item.numbers, a->numbers.data(), n * sizeof(uint16_t));
      item.result = n;
      return true;
    }
    case TMC_BATCH_NAME: {
      const auto* a = std::get_if<tp::NameAnswer>(&any);
      if (a == nullptr) return false;
      if (a->valid) {
        const size_t n = std::min<size_t>(a->name.size(), item.size - 1);
        std::memcpy(item.name, a->name.data(), n);
        item.name[n] = '\0';
        item.result = 1;
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

TMCONN_EXPORT uint32_t tmcBatch(uint32_t handle, TmcBatchItem* items, uint32_t count,
                                uint32_t window) {
  if (items == nullptr) return 0;
  for (uint32_t i = 0; i < count; ++i) SetFailed(items[i]);
  const Entry entry = Find(handle);
  if (!entry.connection || count == 0) return 0;
  // Requests that cannot be sent (bad arguments, a text the protocol cannot carry) fail alone.
  std::string frames;
  std::vector<size_t> ends;
  std::vector<uint32_t> sent;  // item of each frame
  ends.reserve(count);
  sent.reserve(count);
  std::string plain;
  for (uint32_t i = 0; i < count; ++i) {
    const std::optional<tp::Request> request = RequestOf(items[i]);
    plain.clear();
    if (!request || !tp::Encode(*request, plain)) continue;
    // Each request carries its place among those sent, and its answer must carry the same.
    const auto id = static_cast<uint32_t>(sent.size());
    if (!tp::EncodeTagged(tp::MsgType::kTagged, id, std::string_view(plain).substr(tp::kHeaderSize),
                          frames))
      continue;
    ends.push_back(frames.size());
    sent.push_back(i);
  }
  if (sent.empty()) return 0;
  Messages messages;
  size_t answered = 0;
  {
    std::lock_guard lock(entry.connection->Mutex());
    answered = entry.connection->Batch(
        frames, ends, window == 0 ? TMC_BATCH_DEFAULT_WINDOW : window,
        [&](size_t k, const tp::Answer& answer) { return Store(items[sent[k]], answer); },
        messages);
  }
  Deliver(entry.callback, messages);
  return static_cast<uint32_t>(answered);
}

TMCONN_EXPORT void tmcSetLinkCallback(TmcLinkCallback callback) {
  link_callback.store(callback);
}
