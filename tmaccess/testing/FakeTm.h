// A TM layer for tests: answers from a script (per address, time text and archive number),
// failure values for everything else, and a log of every request in the order it came.
// Test suites of the pass, the browser and the windows share it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "TmOperations.h"

namespace velt {

// "status 1:2:3", "analog 1:2:3 N/A 0", "accum 1:3:1 ''", "enum 0x9001 1:1:0 255",
// "name 0x8001 1:2:3 260": how the fake and the recording TM layers note a request.
std::string Describe(const TmBatchRequest& request);
std::ostream& operator<<(std::ostream& out, const TmBatchRequest& request);

// An accumulator answer: the library's result and, when its low 16 bits are set, the pair.
struct AccumAnswer {
  uint32_t result = 0;
  float meterReading = 0;
  float reducedPower = 0;
};

class FakeTm : public TmOperations {
 public:
  // Failure values returned where nothing is scripted.
  static constexpr int16_t kNoStatus = -1;
  static float NoAnalog();  // NaN

  // Scripted answers. Times are compared exactly; "N/A" with archive 0 and the empty time are
  // what the pass uses for current values.
  void SetStatus(uint16_t ch, uint16_t rtu, uint16_t point, int16_t value);
  void SetAnalog(uint16_t ch, uint16_t rtu, uint16_t point, float value,
                 const std::string& time = "N/A", uint16_t archive = 0);
  void SetAccum(uint16_t ch, uint16_t rtu, uint16_t point, float meterReading, float reducedPower,
                const std::string& time = "");
  // Any result, e.g. 0x10000: high bits set, low 16 bits 0, still a failure.
  void SetAccumResult(uint16_t ch, uint16_t rtu, uint16_t point, AccumAnswer answer,
                      const std::string& time = "");

  // Answers for requests that the script does not cover (large sheets, benchmarks).
  void SetStatusFallback(std::function<int16_t(const TmBatchRequest&)> answer);
  void SetAnalogFallback(std::function<float(const TmBatchRequest&)> answer);
  void SetAccumFallback(std::function<AccumAnswer(const TmBatchRequest&)> answer);

  // Objects for tmaEnumObjects and tmaGetObjectName. Channels: AddChannel(ch); RTUs:
  // AddRtu(ch, rtu); points: AddPoint(class, ch, rtu, point). Names are UTF-8.
  void AddChannel(uint16_t ch, std::string name);
  void AddRtu(uint16_t ch, uint16_t rtu, std::string name);
  void AddPoint(uint16_t objectClass, uint16_t ch, uint16_t rtu, uint16_t point, std::string name);
  // The object stays in enumerations, but its name request fails.
  void FailName(uint16_t objectClass, uint16_t ch, uint16_t rtu, uint16_t point);
  // Every later request of any kind fails as it would without a connection.
  void SetConnected(bool connected) { connected_ = connected; }

  // The point, enumeration and name requests in the order they came.
  const std::vector<TmBatchRequest>& Requests() const { return requests_; }
  std::vector<std::string> Described() const;
  void ClearRequests() { requests_.clear(); }
  // Benchmarks switch the log off; RequestCount() still counts, system time included.
  void SetLogging(bool on) { logging_ = on; }
  int64_t RequestCount() const { return count_; }

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

 private:
  using Point = std::tuple<uint16_t, uint16_t, uint16_t>;
  using Object = std::tuple<uint16_t, uint16_t, uint16_t, uint16_t>;  // class, ch, rtu, point

  void Log(const TmBatchRequest& request);

  std::map<Point, int16_t> status_;
  std::map<std::tuple<Point, std::string, uint16_t>, float> analog_;
  std::map<std::pair<Point, std::string>, AccumAnswer> accum_;
  std::function<int16_t(const TmBatchRequest&)> statusFallback_;
  std::function<float(const TmBatchRequest&)> analogFallback_;
  std::function<AccumAnswer(const TmBatchRequest&)> accumFallback_;
  std::map<Object, std::string> objects_;
  std::set<Object> failedNames_;
  bool connected_ = true;
  bool logging_ = true;
  int64_t count_ = 0;
  std::vector<TmBatchRequest> requests_;
};

}  // namespace velt
