// One %-directive of a scanner format, parsed. Shared by the scanner and its fuzz harness, which
// must hand each directive a target of the kind the scanner will store into.
#pragma once

#include <array>
#include <cstdint>

namespace velt::scan {

// The size prefix, by meaning: h/l16, H/l8, l/l32, L/ll/l64.
enum class Size : uint8_t { Default, Half, Byte, Long, Wide };

// 256 character codes; code 0 is never a member.
class ScanSet {
 public:
  void Add(unsigned char c) { bits_[c >> 6] |= uint64_t{1} << (c & 63); }
  void AddRange(unsigned char first, unsigned char last) {
    for (unsigned c = first; c <= last; ++c) Add(static_cast<unsigned char>(c));
  }
  void Invert() {
    for (auto& word : bits_) word = ~word;
  }
  bool Has(unsigned char c) const { return c != 0 && ((bits_[c >> 6] >> (c & 63)) & 1) != 0; }

 private:
  std::array<uint64_t, 4> bits_{};
};

struct Directive {
  bool suppress = false;
  int64_t width = 0;  // 0: none given
  Size size = Size::Default;
  char letter = 0;  // lower case: d u i o x p e f g s [ c n m
  ScanSet set;      // letter '['

  bool IsInteger() const;
  bool IsFloating() const { return letter == 'e' || letter == 'f' || letter == 'g'; }
  bool IsString() const { return letter == 's' || letter == '['; }
  // Stores into a std::string rather than into bytes.
  bool IsDynamicString() const { return IsString() && size == Size::Long; }
};

// Parses the directive that starts right after its "%". Returns the position after the
// directive (after the closing "]" of a scan set), or nullptr when the directive is malformed:
// width 0, unknown letter, a prefix the letter does not allow, the format ending inside the
// directive, or a scan set without its closing "]".
const unsigned char* ParseDirective(const unsigned char* p, Directive& d);

}  // namespace velt::scan
