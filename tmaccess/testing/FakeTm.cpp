#include "FakeTm.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace velt {

namespace {

// Cuts text to at most size - 1 bytes without splitting a UTF-8 sequence.
std::string Truncated(const std::string& text, uint32_t size) {
  if (size == 0) return {};
  size_t length = std::min<size_t>(text.size(), size - 1);
  while (length > 0 && length < text.size() &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  return text.substr(0, length);
}

}  // namespace

std::string Describe(const TmBatchRequest& request) {
  static const char* const kKinds[] = {"status", "analog", "accum", "enum", "name"};
  // Appends only: GCC 12 at -O3 warns falsely about "literal" + std::string.
  std::string text = kKinds[static_cast<size_t>(request.kind)];
  const auto add = [&text](const std::string& part) {
    text.push_back(' ');
    text.append(part);
  };
  const bool object = request.kind == TmBatchRequest::Kind::EnumObjects ||
                      request.kind == TmBatchRequest::Kind::GetObjectName;
  if (object) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%04X", static_cast<unsigned>(request.cls));
    add(number);
  }
  add(std::to_string(request.ch));
  text.append(":").append(std::to_string(request.rtu));
  text.append(":").append(std::to_string(request.point));
  switch (request.kind) {
    case TmBatchRequest::Kind::Analog:
      add(request.time);
      add(std::to_string(request.archive));
      break;
    case TmBatchRequest::Kind::AccumFull:
      add(request.time.empty() ? std::string("''") : request.time);
      break;
    case TmBatchRequest::Kind::EnumObjects:
      add(std::to_string(request.max));
      break;
    case TmBatchRequest::Kind::GetObjectName:
      add(std::to_string(request.size));
      break;
    case TmBatchRequest::Kind::Status:
      break;
  }
  return text;
}

std::ostream& operator<<(std::ostream& out, const TmBatchRequest& request) {
  return out << Describe(request);
}

float FakeTm::NoAnalog() {
  return std::numeric_limits<float>::quiet_NaN();
}

void FakeTm::SetStatus(uint16_t ch, uint16_t rtu, uint16_t point, int16_t value) {
  status_[{ch, rtu, point}] = value;
}

void FakeTm::SetAnalog(uint16_t ch, uint16_t rtu, uint16_t point, float value,
                       const std::string& time, uint16_t archive) {
  analog_[{{ch, rtu, point}, time, archive}] = value;
}

void FakeTm::SetAccum(uint16_t ch, uint16_t rtu, uint16_t point, float meterReading,
                      float reducedPower, const std::string& time) {
  SetAccumResult(ch, rtu, point, {kTmaTrue, meterReading, reducedPower}, time);
}

void FakeTm::SetAccumResult(uint16_t ch, uint16_t rtu, uint16_t point, AccumAnswer answer,
                            const std::string& time) {
  accum_[{{ch, rtu, point}, time}] = answer;
}

void FakeTm::SetStatusFallback(std::function<int16_t(const TmBatchRequest&)> answer) {
  statusFallback_ = std::move(answer);
}

void FakeTm::SetAnalogFallback(std::function<float(const TmBatchRequest&)> answer) {
  analogFallback_ = std::move(answer);
}

void FakeTm::SetAccumFallback(std::function<AccumAnswer(const TmBatchRequest&)> answer) {
  accumFallback_ = std::move(answer);
}

void FakeTm::AddChannel(uint16_t ch, std::string name) {
  objects_[{kClassChannel, ch, 0, 0}] = std::move(name);
}

void FakeTm::AddRtu(uint16_t ch, uint16_t rtu, std::string name) {
  objects_[{kClassRtu, ch, rtu, 0}] = std::move(name);
}

void FakeTm::AddPoint(uint16_t objectClass, uint16_t ch, uint16_t rtu, uint16_t point,
                      std::string name) {
  objects_[{objectClass, ch, rtu, point}] = std::move(name);
}

void FakeTm::FailName(uint16_t objectClass, uint16_t ch, uint16_t rtu, uint16_t point) {
  failedNames_.insert({objectClass, ch, rtu, point});
}

std::vector<std::string> FakeTm::Described() const {
  std::vector<std::string> lines;
  lines.reserve(requests_.size());
  for (const auto& request : requests_) lines.push_back(Describe(request));
  return lines;
}

void FakeTm::Log(const TmBatchRequest& request) {
  ++count_;
  if (logging_) requests_.push_back(request);
}

int32_t FakeTm::tmaSystemTime(char* /*buffer*/, uint32_t /*reserved*/) {
  // The callers never read the buffer; leaving it alone keeps a short one safe.
  ++count_;
  return connected_ ? kTmaTrue : kTmaFalse;
}

int16_t FakeTm::tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) {
  const TmBatchRequest request = StatusRequest(ch, rtu, point);
  Log(request);
  if (!connected_) return kNoStatus;
  if (auto it = status_.find({ch, rtu, point}); it != status_.end()) return it->second;
  return statusFallback_ ? statusFallback_(request) : kNoStatus;
}

float FakeTm::tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                        uint16_t archive) {
  const TmBatchRequest request = AnalogRequest(ch, rtu, point, time, archive);
  Log(request);
  if (!connected_) return NoAnalog();
  if (auto it = analog_.find({{ch, rtu, point}, time, archive}); it != analog_.end()) {
    return it->second;
  }
  return analogFallback_ ? analogFallback_(request) : NoAnalog();
}

uint32_t FakeTm::tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                              const std::string& time) {
  const TmBatchRequest request = AccumRequest(ch, rtu, point, time);
  Log(request);
  if (!connected_) return 0;
  AccumAnswer answer;
  if (auto it = accum_.find({{ch, rtu, point}, time}); it != accum_.end()) {
    answer = it->second;
  } else if (accumFallback_) {
    answer = accumFallback_(request);
  }
  if ((answer.result & 0xFFFFu) != 0 && values != nullptr) {
    values[0] = answer.meterReading;
    values[1] = answer.reducedPower;
  }
  return answer.result;
}

uint32_t FakeTm::tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch,
                                uint16_t rtu, uint16_t point) {
  TmBatchRequest request = ObjectRequest(TmBatchRequest::Kind::EnumObjects, cls, ch, rtu, point);
  request.max = max;
  Log(request);
  if (!connected_ || buffer == nullptr) return 0;
  uint32_t count = 0;
  for (const auto& [key, name] : objects_) {
    if (count >= max) break;
    const auto [keyClass, keyCh, keyRtu, keyPoint] = key;
    if (keyClass != cls) continue;
    uint16_t number = 0;
    if (cls == kClassChannel) {
      number = keyCh;
      if (number < ch) continue;
    } else if (cls == kClassRtu) {
      number = keyRtu;
      if (keyCh != ch || number < rtu) continue;
    } else {
      number = keyPoint;
      if (keyCh != ch || keyRtu != rtu || number < point) continue;
    }
    buffer[count++] = number;
  }
  return count;
}

int16_t FakeTm::tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                                 std::string& name, uint32_t size) {
  TmBatchRequest request = ObjectRequest(TmBatchRequest::Kind::GetObjectName, cls, ch, rtu, point);
  request.size = size;
  Log(request);
  if (!connected_ || size == 0) return kTmaFalse;
  auto it = objects_.find({cls, ch, rtu, point});
  if (it == objects_.end() || failedNames_.count(it->first) != 0) return kTmaFalse;
  name = Truncated(it->second, size);
  return kTmaTrue;
}

}  // namespace velt
