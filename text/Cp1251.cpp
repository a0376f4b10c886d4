#include "Cp1251.h"

#include <iconv.h>
#include <algorithm>
#include <cerrno>

namespace velt {
namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// How many bytes make up the bad UTF-8 sequence at text: its lead byte and the continuation
// bytes that follow it, never more than the lead byte announces.
size_t Utf8BadSequenceLength(const char* text, size_t left) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t want = 1;
  if (lead >= 0xF0 && lead <= 0xF4) {
    want = 4;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    want = 3;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    want = 2;
  }
  size_t n = 1;
  while (n < want && n < left && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
  return n;
}

// Converts with iconv. On an input sequence it cannot convert, strict mode fails; otherwise
// `replacement` stands in for it and the converter skips the sequence (skip tells how far).
// Without a converter, strict mode fails and otherwise ASCII is kept and the rest replaced.
template <class Skip>
bool Convert(const char* to, const char* from, std::string_view in, std::string& out, bool strict,
             std::string_view replacement, Skip skip) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (strict) return false;
    for (char c : in) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out += c;
      } else {
        out += replacement;
      }
    }
    return true;
  }
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  size_t used = 0;
  bool ok = true;
  while (src_left > 0) {
    char* dst = out.data() + used;
    size_t dst_left = out.size() - used;
    const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    used = out.size() - dst_left;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL: an unconvertible or incomplete sequence at src.
    if (strict) {
      ok = false;
      break;
    }
    if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + replacement.size());
    out.replace(used, replacement.size(), replacement);
    used += replacement.size();
    const size_t n = std::max<size_t>(1, std::min(skip(src, src_left), src_left));
    src += n;
    src_left -= n;
  }
  iconv_close(cd);
  out.resize(ok ? used : 0);
  return ok;
}

}  // namespace

std::string Utf8ToCp1251(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out;
  Convert("CP1251", "UTF-8", utf8, out, false, "?", Utf8BadSequenceLength);
  return out;
}

bool Utf8ToCp1251Strict(std::string_view utf8, std::string& out) {
  if (IsAscii(utf8)) {
    out.assign(utf8);
    return true;
  }
  return Convert("CP1251", "UTF-8", utf8, out, true, "?", Utf8BadSequenceLength);
}

std::string Cp1251ToUtf8(std::string_view cp1251, std::string_view replacement) {
  if (IsAscii(cp1251)) return std::string(cp1251);
  std::string out;
  Convert("UTF-8", "CP1251", cp1251, out, false, replacement,
          [](const char*, size_t) { return size_t{1}; });
  return out;
}

}  // namespace velt
