// Byte layouts of the two floating forms that C++ has no type for.
#pragma once

#include <cstdint>

namespace velt::scan {

// The 6-byte 48-bit real: byte 0 the exponent with bias 129 (0 means zero), bytes 1..5 the
// mantissa without its leading 1, least significant byte first, the sign in the top bit of
// byte 5. Rounds to nearest (ties to even). Returns false, writing nothing, when the value
// cannot be represented: too large, infinite or NaN. A value too small is written as zero.
bool EncodeReal48(long double value, unsigned char out[6]);

// The 10-byte x87 extended layout: 64-bit mantissa with its explicit integer bit, least
// significant byte first, then 15 bits of exponent (bias 16383) and the sign.
void EncodeExtended80(long double value, unsigned char out[10]);

// The same layout built field by field, for platforms whose long double is not x87 extended.
// Exposed so that it can be checked against the native bytes where they are available.
void EncodeExtended80Portable(long double value, unsigned char out[10]);

}  // namespace velt::scan
