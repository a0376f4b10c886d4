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

#include <cstdint>
#include <string>

#include "TmProtocol.h"

namespace velt {

// The client name the program gives the TM server.
inline constexpr char kClientName[] = "$Excel$";

// The result flag of the library and of the connection module.
inline constexpr int16_t kTmaTrue = 1;
inline constexpr int16_t kTmaFalse = 0;

// An analog value above this, or not a number, means that the server had no value.
inline constexpr double kAnalogLimit = 3.2e38;

// Object class codes, and the time text that asks for a current analog value.
using tmproto::kClassAccum;
using tmproto::kClassAnalog;
using tmproto::kClassChannel;
using tmproto::kClassRtu;
using tmproto::kClassStatus;
using tmproto::kCurrentTime;

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
};

}  // namespace velt
