// The TM server operations that the update pass and the browser use, without the connection
// handle. TmAccess (tmaccess.h) implements them over libtmconn; tests give fakes.
// Texts are UTF-8 here; the library's Windows-1251 stays behind the implementation.
// Failures are values, never exceptions:
//   tmaStatus      -1
//   tmaAnalog      a value above kAnalogLimit, or NaN
//   tmaAccumFull   a result whose low 16 bits are 0
//   tmaEnumObjects 0 in the low 8 bits
//   tmaGetObjectName  anything but kTmaTrue
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velt {

// The client name the program gives the TM server.
inline constexpr char kClientName[] = "$Excel$";

// The result flag of the library and of the connection module.
inline constexpr int16_t kTmaTrue = 1;
inline constexpr int16_t kTmaFalse = 0;

// An analog value above this, or not a number, means that the server had no value.
inline constexpr double kAnalogLimit = 3.2e38;

// The marker that stands where the server cannot give a value: in a cell, in the browser's list.
inline constexpr const char* kNoValue = "н\\д";

// An analog answer that carries no value: the server's failure, or an infinity or NaN, which no
// cell and no other program can take.
inline bool AnalogMissing(float value) {
  return !std::isfinite(value) || static_cast<double>(value) > kAnalogLimit;
}

// Object class codes of enumeration and name requests.
inline constexpr uint16_t kClassChannel = 0x9000;
inline constexpr uint16_t kClassRtu = 0x9001;
inline constexpr uint16_t kClassStatus = 0x8000;
inline constexpr uint16_t kClassAnalog = 0x8001;
inline constexpr uint16_t kClassAccum = 0x8002;

// The time text of an analog request for the current value (with archive number 0).
inline constexpr char kCurrentTime[] = "N/A";

// One request of a batch (TmOperations::tmaBatch): the arguments of the single operation of
// that kind.
struct TmBatchRequest {
  enum class Kind : uint8_t { Status, Analog, AccumFull, EnumObjects, GetObjectName };
  Kind kind = Kind::Status;
  uint16_t cls = 0;  // EnumObjects, GetObjectName
  uint16_t ch = 0;
  uint16_t rtu = 0;
  uint16_t point = 0;
  uint16_t archive = 0;  // Analog
  uint8_t max = 0;       // EnumObjects
  uint32_t size = 0;     // GetObjectName: the buffer size the library gets
  std::string time;      // Analog, AccumFull

  bool operator==(const TmBatchRequest&) const = default;
};

// The requests of the three point operations, with their arguments.
inline TmBatchRequest PointRequest(TmBatchRequest::Kind kind, uint16_t ch, uint16_t rtu,
                                   uint16_t point) {
  TmBatchRequest request;
  request.kind = kind;
  request.ch = ch;
  request.rtu = rtu;
  request.point = point;
  return request;
}
// The enumeration and name requests: a point request with the object class.
inline TmBatchRequest ObjectRequest(TmBatchRequest::Kind kind, uint16_t cls, uint16_t ch,
                                    uint16_t rtu, uint16_t point) {
  TmBatchRequest request = PointRequest(kind, ch, rtu, point);
  request.cls = cls;
  return request;
}
inline TmBatchRequest StatusRequest(uint16_t ch, uint16_t rtu, uint16_t point) {
  return PointRequest(TmBatchRequest::Kind::Status, ch, rtu, point);
}
inline TmBatchRequest AnalogRequest(uint16_t ch, uint16_t rtu, uint16_t point,
                                    const std::string& time, uint16_t archive) {
  TmBatchRequest request = PointRequest(TmBatchRequest::Kind::Analog, ch, rtu, point);
  request.time = time;
  request.archive = archive;
  return request;
}
inline TmBatchRequest AccumRequest(uint16_t ch, uint16_t rtu, uint16_t point,
                                   const std::string& time) {
  TmBatchRequest request = PointRequest(TmBatchRequest::Kind::AccumFull, ch, rtu, point);
  request.time = time;
  return request;
}

// The answer to one request of a batch: what the single operation would return, with the same
// failure values.
struct TmBatchAnswer {
  int16_t status = -1;            // Status
  float analog = FLT_MAX;         // Analog
  uint32_t result = 0;            // AccumFull: the library's result; EnumObjects: the count
  float values[2] = {0, 0};       // AccumFull: meter reading, reduced power
  std::vector<uint16_t> numbers;  // EnumObjects
  int16_t named = kTmaFalse;      // GetObjectName
  std::string name;               // GetObjectName
};

class TmOperations;
// Answers every request with its single operation, one after another.
void AnswerOneByOne(TmOperations& tm, std::span<const TmBatchRequest> requests,
                    std::span<TmBatchAnswer> answers);

class TmOperations {
 public:
  virtual ~TmOperations() = default;

  virtual int32_t tmaSystemTime(char* buffer, uint32_t reserved) = 0;
  virtual int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) = 0;
  virtual float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                          uint16_t archive) = 0;
  // values[0]: meter reading, values[1]: reduced power; filled when the low 16 bits are set.
  virtual uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                                const std::string& time) = 0;
  // Low 8 bits of the result: how many numbers were written to buffer (at most max).
  virtual uint32_t tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch,
                                  uint16_t rtu, uint16_t point) = 0;
  // kTmaTrue: name holds the object's name (UTF-8). size is the buffer size the library gets.
  virtual int16_t tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                                   std::string& name, uint32_t size) = 0;

  // Many requests at once; answers[i] receives the answer to requests[i] (answers is as long as
  // requests). The server receives the same requests in the same order as from the single
  // operations one after another; an implementation over a remote server keeps many of them in
  // flight. This default makes the single calls.
  virtual void tmaBatch(std::span<const TmBatchRequest> requests,
                        std::span<TmBatchAnswer> answers) {
    AnswerOneByOne(*this, requests, answers);
  }
};

// Hands every operation to another implementation; decorators override what they change.
class ForwardingTm : public TmOperations {
 public:
  explicit ForwardingTm(TmOperations& tm) : tm_(tm) {}

  int32_t tmaSystemTime(char* buffer, uint32_t reserved) override {
    return tm_.tmaSystemTime(buffer, reserved);
  }
  int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) override {
    return tm_.tmaStatus(ch, rtu, point);
  }
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override {
    return tm_.tmaAnalog(ch, rtu, point, time, archive);
  }
  uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                        const std::string& time) override {
    return tm_.tmaAccumFull(ch, rtu, point, values, time);
  }
  uint32_t tmaEnumObjects(uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch, uint16_t rtu,
                          uint16_t point) override {
    return tm_.tmaEnumObjects(cls, max, buffer, ch, rtu, point);
  }
  int16_t tmaGetObjectName(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                           std::string& name, uint32_t size) override {
    return tm_.tmaGetObjectName(cls, ch, rtu, point, name, size);
  }
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override {
    tm_.tmaBatch(requests, answers);
  }

 protected:
  TmOperations& tm_;
};

inline void AnswerOneByOne(TmOperations& tm, std::span<const TmBatchRequest> requests,
                           std::span<TmBatchAnswer> answers) {
  for (size_t i = 0; i < requests.size() && i < answers.size(); ++i) {
    const TmBatchRequest& q = requests[i];
    TmBatchAnswer& a = answers[i];
    a = TmBatchAnswer{};
    switch (q.kind) {
      case TmBatchRequest::Kind::Status:
        a.status = tm.tmaStatus(q.ch, q.rtu, q.point);
        break;
      case TmBatchRequest::Kind::Analog:
        a.analog = tm.tmaAnalog(q.ch, q.rtu, q.point, q.time, q.archive);
        break;
      case TmBatchRequest::Kind::AccumFull:
        a.result = tm.tmaAccumFull(q.ch, q.rtu, q.point, a.values, q.time);
        break;
      case TmBatchRequest::Kind::EnumObjects:
        a.numbers.resize(q.max);
        a.result = q.max == 0
                       ? 0
                       : tm.tmaEnumObjects(q.cls, q.max, a.numbers.data(), q.ch, q.rtu, q.point);
        a.numbers.resize(std::min<size_t>(a.result & 0xFFu, q.max));
        break;
      case TmBatchRequest::Kind::GetObjectName:
        a.named = tm.tmaGetObjectName(q.cls, q.ch, q.rtu, q.point, a.name, q.size);
        break;
    }
  }
}

}  // namespace velt
