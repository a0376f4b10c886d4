#include "RealFormats.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace velt::scan {

bool EncodeReal48(long double value, unsigned char out[6]) {
  if (std::isnan(value) || std::isinf(value)) return false;
  unsigned char bytes[6] = {};
  if (value != 0) {
    int exponent = 0;
    const long double fraction = std::frexp(std::fabs(value), &exponent);  // [0.5, 1)
    // 40 significant bits, the leading one included; exact for a 64-bit mantissa.
    const long double scaled = std::ldexp(fraction, 40);
    const long double whole = std::floor(scaled);
    const long double rest = scaled - whole;
    uint64_t mantissa = static_cast<uint64_t>(whole);
    if (rest > 0.5L || (rest == 0.5L && (mantissa & 1) != 0)) ++mantissa;
    if (mantissa == uint64_t{1} << 40) {
      mantissa >>= 1;
      ++exponent;
    }
    const int biased = exponent + 128;  // value = 1.f * 2^(exponent - 1), bias 129
    if (biased > 255) return false;
    if (biased >= 1) {
      bytes[0] = static_cast<unsigned char>(biased);
      const uint64_t bits = mantissa & ((uint64_t{1} << 39) - 1);
      for (int i = 0; i < 5; ++i) bytes[1 + i] = static_cast<unsigned char>(bits >> (8 * i));
      if (std::signbit(value)) bytes[5] |= 0x80;
    }
  }
  std::memcpy(out, bytes, sizeof bytes);
  return true;
}

void EncodeExtended80Portable(long double value, unsigned char out[10]) {
  constexpr uint64_t kIntegerBit = uint64_t{1} << 63;
  unsigned signExponent = std::signbit(value) ? 0x8000u : 0u;
  uint64_t mantissa = 0;
  if (std::isnan(value)) {
    signExponent |= 0x7FFF;
    mantissa = kIntegerBit | (kIntegerBit >> 1);  // quiet NaN
  } else if (std::isinf(value)) {
    signExponent |= 0x7FFF;
    mantissa = kIntegerBit;
  } else if (value != 0) {
    int exponent = 0;
    const long double fraction = std::frexp(std::fabs(value), &exponent);  // [0.5, 1)
    int biased = exponent + 16382;
    // Normal: 64 mantissa bits; subnormal (biased <= 0): fewer, with exponent field 0.
    const int shift = biased >= 1 ? 64 : 63 + biased;
    const long double scaled = shift > 0 ? std::nearbyint(std::ldexp(fraction, shift)) : 0.0L;
    if (scaled >= std::ldexp(1.0L, 64)) {
      mantissa = kIntegerBit;
      ++biased;
    } else {
      mantissa = static_cast<uint64_t>(scaled);
    }
    if (biased < 1) biased = (mantissa & kIntegerBit) != 0 ? 1 : 0;
    if (biased >= 0x7FFF) {
      biased = 0x7FFF;  // only a wider long double gets here
      mantissa = kIntegerBit;
    }
    signExponent |= static_cast<unsigned>(biased);
  }
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(mantissa >> (8 * i));
  out[8] = static_cast<unsigned char>(signExponent);
  out[9] = static_cast<unsigned char>(signExponent >> 8);
}

void EncodeExtended80(long double value, unsigned char out[10]) {
  using Limits = std::numeric_limits<long double>;
  if constexpr (Limits::digits == 64 && Limits::max_exponent == 16384 && Limits::is_iec559) {
    std::memcpy(out, &value, 10);  // the native layout; the padding bytes are not ours to write
  } else {
    EncodeExtended80Portable(value, out);
  }
}

}  // namespace velt::scan
