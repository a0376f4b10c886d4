#include "Directive.h"

#include <limits>

namespace velt::scan {

namespace {

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

char LowerAscii(unsigned char c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// Reads the size prefix greedily: h, H, L take one character; l8 and ll two; l16, l32, l64
// three; any other l one.
const unsigned char* ParseSize(const unsigned char* p, Size& size) {
  switch (p[0]) {
    case 'h':
      size = Size::Half;
      return p + 1;
    case 'H':
      size = Size::Byte;
      return p + 1;
    case 'L':
      size = Size::Wide;
      return p + 1;
    case 'l':
      break;
    default:
      size = Size::Default;
      return p;
  }
  // p[1] is only looked at when it is not the terminator, and p[2] likewise.
  if (p[1] == '8') {
    size = Size::Byte;
    return p + 2;
  }
  if (p[1] == 'l') {
    size = Size::Wide;
    return p + 2;
  }
  if (p[1] == '1' && p[2] == '6') {
    size = Size::Half;
    return p + 3;
  }
  if (p[1] == '3' && p[2] == '2') {
    size = Size::Long;
    return p + 3;
  }
  if (p[1] == '6' && p[2] == '4') {
    size = Size::Wide;
    return p + 3;
  }
  size = Size::Long;
  return p + 1;
}

bool PrefixAllowed(char letter, Size size) {
  switch (letter) {
    case 'd':
    case 'u':
    case 'i':
    case 'o':
    case 'x':
    case 'e':
    case 'f':
    case 'g':
    case 'n':
      return true;
    case 'p':
    case 'c':
    case 'm':
      return size == Size::Default;
    case 's':
    case '[':
      return size == Size::Default || size == Size::Half || size == Size::Long;
    default:
      return false;  // not a conversion letter
  }
}

// The set text runs to the first "]" that is not its first character (after any "^").
const unsigned char* ParseSet(const unsigned char* p, ScanSet& set) {
  bool invert = false;
  if (*p == '^') {
    invert = true;
    ++p;
  }
  if (*p == ']' || *p == '-') set.Add(*p++);
  for (;;) {
    const unsigned char c = *p;
    if (c == 0) return nullptr;
    if (c == ']') break;
    if (p[1] == '-' && p[2] != ']' && p[2] != 0) {
      if (p[2] >= c) set.AddRange(c, p[2]);
      p += 3;
    } else {
      set.Add(c);
      ++p;
    }
  }
  if (invert) set.Invert();
  return p + 1;
}

}  // namespace

bool Directive::IsInteger() const {
  switch (letter) {
    case 'd':
    case 'u':
    case 'i':
    case 'o':
    case 'x':
    case 'p':
      return true;
    default:
      return false;
  }
}

const unsigned char* ParseDirective(const unsigned char* p, Directive& d) {
  d = Directive{};
  if (*p == '*') {
    d.suppress = true;
    ++p;
  }
  if (IsDigit(*p)) {
    // Saturates: a width beyond any text is as good as none.
    constexpr int64_t kMaxWidth = std::numeric_limits<int32_t>::max();
    while (IsDigit(*p)) {
      d.width = d.width * 10 + (*p - '0');
      if (d.width > kMaxWidth) d.width = kMaxWidth;
      ++p;
    }
    if (d.width == 0) return nullptr;
  }
  p = ParseSize(p, d.size);
  if (*p == 0) return nullptr;
  d.letter = LowerAscii(*p++);
  if (!PrefixAllowed(d.letter, d.size)) return nullptr;
  if (d.letter == '[') return ParseSet(p, d.set);
  return p;
}

}  // namespace velt::scan
