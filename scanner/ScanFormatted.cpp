#include "ScanFormatted.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "Directive.h"
#include "RealFormats.h"

namespace velt {

namespace {

using scan::Directive;
using scan::Size;

bool IsBlank(unsigned char c) {
  return c >= 1 && c <= 32;
}

const unsigned char* SkipBlanks(const unsigned char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

// The input position together with what is left of the directive's width. Every read goes
// through Has(), which also stops at the terminating NUL, so nothing past it is ever touched.
struct Field {
  const unsigned char* p;
  int64_t left;

  bool Has() const { return left > 0 && *p != 0; }
  unsigned char Peek() const { return Has() ? *p : 0; }
  void Take() {
    ++p;
    --left;
  }
  bool TakeIf(unsigned char c) {
    if (Peek() != c || c == 0) return false;
    Take();
    return true;
  }
  // The next n characters equal text (which has no NUL) and the width lasts for them.
  bool LooksAt(const char* text, int64_t n) const {
    if (left < n) return false;
    for (int64_t i = 0; i < n; ++i) {
      if (p[i] != static_cast<unsigned char>(text[i])) return false;  // a NUL stops here
    }
    return true;
  }
};

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Reads an integer; the value accumulates in 64 bits and wraps silently.
bool ConvertInteger(Field& f, char letter, uint64_t& value) {
  bool negative = false;
  if (!f.TakeIf('+')) negative = f.TakeIf('-');
  int base = 10;
  switch (letter) {
    case 'o':
      base = 8;
      break;
    case 'x':
    case 'p':
      base = 16;
      break;
    case 'i':
      if (f.TakeIf('$')) {
        base = 16;
      } else if (f.LooksAt("0x", 2) || f.LooksAt("0X", 2)) {
        f.Take();
        f.Take();
        base = 16;
      } else if (f.Peek() == '0') {
        base = 8;  // the "0" itself is read as a digit
      }
      break;
    default:
      break;
  }
  value = 0;
  bool any = false;
  while (f.Has() && DigitValue(*f.p) < base) {
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(*f.p));
    f.Take();
    any = true;
  }
  if (negative) value = ~value + 1;
  return any;
}

// mantissa * 10^power in steps whose factors stay finite. The mantissa is a finite whole
// number (at least 1 when not 0), so powers beyond these bounds give only zero or infinity.
long double ScaleByTen(long double mantissa, int64_t power) {
  if (mantissa == 0) return mantissa;
  power = std::clamp<int64_t>(power, -20000, 20000);
  constexpr int kStep = 4000;
  while (power > kStep) {
    mantissa *= std::pow(10.0L, kStep);
    power -= kStep;
  }
  while (power < -kStep) {
    mantissa /= std::pow(10.0L, kStep);
    power += kStep;
  }
  const long double scale = std::pow(10.0L, static_cast<long double>(power < 0 ? -power : power));
  return power < 0 ? mantissa / scale : mantissa * scale;
}

// Reads a floating number: digits, then "." and digits, then "e" or "E", a sign and digits.
// The digits accumulate as a whole number in long double, which is then scaled by ten.
bool ConvertFloating(Field& f, long double& value) {
  bool negative = false;
  if (!f.TakeIf('+')) negative = f.TakeIf('-');
  if (f.LooksAt("INF", 3) || f.LooksAt("NAN", 3)) {
    value = *f.p == 'I' ? std::numeric_limits<long double>::infinity()
                        : std::numeric_limits<long double>::quiet_NaN();
    f.Take();
    f.Take();
    f.Take();
    if (negative) value = -value;
    return true;
  }
  constexpr int64_t kExponentCap = 1'000'000'000;  // far past any finite result
  // Past this the accumulator would overflow to infinity on a text of thousands of digits;
  // further digits cannot change the value any more, so they only shift its scale.
  constexpr long double kAccumulateLimit = std::numeric_limits<long double>::max() / 100;
  long double mantissa = 0;
  int64_t fractionDigits = 0;
  int64_t droppedDigits = 0;
  bool any = false;
  auto readDigits = [&](bool fraction) {
    while (f.Has() && *f.p >= '0' && *f.p <= '9') {
      if (mantissa < kAccumulateLimit) {
        mantissa = mantissa * 10 + (*f.p - '0');
        if (fraction) ++fractionDigits;
      } else if (!fraction && droppedDigits < kExponentCap) {
        ++droppedDigits;
      }
      any = true;
      f.Take();
    }
  };
  readDigits(false);
  if (f.TakeIf('.')) readDigits(true);
  int64_t exponent = 0;
  if (f.TakeIf('e') || f.TakeIf('E')) {
    bool negativeExponent = false;
    if (!f.TakeIf('+')) negativeExponent = f.TakeIf('-');
    while (f.Has() && *f.p >= '0' && *f.p <= '9') {
      exponent = std::min(exponent * 10 + (*f.p - '0'), kExponentCap);
      f.Take();
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (!any) return false;
  value = ScaleByTen(mantissa, exponent - fractionDigits + droppedDigits);
  if (negative) value = -value;
  return true;
}

template <typename T>
void StoreAs(void* target, T value) {
  std::memcpy(target, &value, sizeof value);
}

void StoreInteger(void* target, Size size, uint64_t value) {
  switch (size) {
    case Size::Half:
      StoreAs(target, static_cast<uint16_t>(value));
      break;
    case Size::Byte:
      StoreAs(target, static_cast<uint8_t>(value));
      break;
    case Size::Wide:
      StoreAs(target, value);
      break;
    case Size::Default:
    case Size::Long:
      StoreAs(target, static_cast<uint32_t>(value));
      break;
  }
}

// False when the value has no form in the target (the 48-bit real's range).
bool StoreFloating(void* target, Size size, long double value) {
  switch (size) {
    case Size::Default:
    case Size::Half:
      StoreAs(target, static_cast<float>(value));
      return true;
    case Size::Long:
      StoreAs(target, static_cast<double>(value));
      return true;
    case Size::Byte: {
      unsigned char bytes[6];
      if (!scan::EncodeReal48(value, bytes)) return false;
      std::memcpy(target, bytes, sizeof bytes);
      return true;
    }
    case Size::Wide: {
      unsigned char bytes[10];
      scan::EncodeExtended80(value, bytes);
      std::memcpy(target, bytes, sizeof bytes);
      return true;
    }
  }
  return false;
}

// False when the characters do not fit the target's form.
bool StoreString(void* target, Size size, const unsigned char* begin, const unsigned char* end) {
  const size_t length = static_cast<size_t>(end - begin);
  switch (size) {
    case Size::Half: {
      // The length must fit its byte; a longer match is refused rather than cut.
      if (length > 255) return false;
      auto* bytes = static_cast<unsigned char*>(target);
      bytes[0] = static_cast<unsigned char>(length);
      std::memcpy(bytes + 1, begin, length);
      return true;
    }
    case Size::Long:
      try {
        static_cast<std::string*>(target)->assign(reinterpret_cast<const char*>(begin), length);
      } catch (...) {
        return false;
      }
      return true;
    default: {
      auto* bytes = static_cast<unsigned char*>(target);
      std::memcpy(bytes, begin, length);
      bytes[length] = 0;
      return true;
    }
  }
}

const unsigned char* Bytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
}

}  // namespace

int32_t ScanFormatted(const char* input, const char* format,
                      std::span<void* const> targets) noexcept {
  const unsigned char* const start = Bytes(input);
  const unsigned char* in = start;
  const unsigned char* fmt = Bytes(format);
  int32_t count = 0;
  size_t next = 0;
  auto finish = [&] { return count == 0 && *in == 0 ? -1 : count; };

  for (;;) {
    // Literal text.
    const unsigned char c = *fmt;
    if (c == 0) return finish();
    if (IsBlank(c)) {
      fmt = SkipBlanks(fmt);
      in = SkipBlanks(in);
      continue;
    }
    if (c != '%') {
      if (*in != c) return finish();
      ++in;
      ++fmt;
      continue;
    }
    if (fmt[1] == '%') {
      if (*in != '%') return finish();
      ++in;
      fmt += 2;
      continue;
    }

    // A directive.
    Directive d;
    const unsigned char* const afterDirective = scan::ParseDirective(fmt + 1, d);
    if (afterDirective == nullptr) return finish();
    fmt = afterDirective;
    void* target = nullptr;
    if (!d.suppress) {
      if (next >= targets.size() || targets[next] == nullptr) return finish();
      target = targets[next];
    }
    const bool skipsBlanks = d.IsInteger() || d.IsFloating() || d.letter == 's' || d.letter == 'm';
    if (skipsBlanks) in = SkipBlanks(in);
    if (d.letter == 'c' && d.width == 0) d.width = 1;
    if (*in == 0) return finish();
    if (d.letter == 'm') return finish();

    Field f{in, d.width == 0 ? std::numeric_limits<int64_t>::max() : d.width};
    bool stored = true;
    if (d.IsInteger()) {
      uint64_t value = 0;
      const bool ok = ConvertInteger(f, d.letter, value);
      in = f.p;
      if (!ok) return finish();
      if (target != nullptr) StoreInteger(target, d.size, value);
    } else if (d.IsFloating()) {
      long double value = 0;
      const bool ok = ConvertFloating(f, value);
      in = f.p;
      if (!ok) return finish();
      if (target != nullptr) stored = StoreFloating(target, d.size, value);
    } else if (d.letter == 'n') {
      if (target != nullptr) StoreInteger(target, d.size, static_cast<uint64_t>(in - start));
    } else {
      const unsigned char* const begin = in;
      if (d.letter == 's') {
        while (f.Has() && *f.p > 32) f.Take();
      } else if (d.letter == '[') {
        while (f.Has() && d.set.Has(*f.p)) f.Take();
      } else {  // 'c'
        while (f.Has()) f.Take();
      }
      in = f.p;
      if (target != nullptr) {
        if (d.letter == 'c') {
          std::memcpy(target, begin, static_cast<size_t>(in - begin));
        } else {
          stored = StoreString(target, d.size, begin, in);
        }
      }
    }
    if (!stored) return finish();
    if (target != nullptr) {
      if (d.letter != 'n') ++count;
      ++next;
    }
  }
}

}  // namespace velt
