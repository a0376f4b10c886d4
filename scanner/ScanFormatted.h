// The format-directed scanner: reads values out of a text under the control of a format that
// mixes literal characters with %-directives, and stores them into the caller's variables.
//
// Directive: "%" ["*"] [width] [size prefix] letter. Letters (any case): d u i o x p (integers),
// e f g (floating), s (string), [ (scan set), c (character run), n (characters read so far),
// m (money: accepted, then the scan stops). Size prefixes (case-sensitive):
//   h, l16  16-bit integer, float             H, l8       8-bit integer, 48-bit real
//   l, l32  32-bit integer, double, std::string  L, ll, l64  64-bit integer, 80-bit extended
// With no prefix: 32-bit integer, float, NUL-terminated string.
//
// Stored forms (the caller's variable must match the directive):
//   integers and n       int8/16/32/64, the low bits of a 64-bit value that wraps silently
//   %e/%f/%g             float; %Hf 6-byte 48-bit real; %lf double; %Lf exactly 10 bytes in
//                        the x87 extended layout
//   %s, %[...]           characters and a NUL; %hs one length byte and the characters (a
//                        match longer than 255 characters stops the scan without storing);
//                        %ls a std::string* whose content is replaced
//   %c                   the characters, no terminator (width 1 when none is given)
// A value outside the 48-bit real's range (too large, infinity, NaN) stops the scan without
// storing; one too small for it is stored as zero.
//
// The text is bytes: codes 1..32 are blanks, bytes >= 0x80 are ordinary characters, and the
// decimal separator is always ".". A null input or format is taken as the empty text.
#pragma once

#include <cstdint>
#include <span>

namespace velt {

// Scans input against format, storing each value of a non-suppressed directive into the next
// entry of targets. The scan stops at the end of the format, at the first literal that does
// not match, at a malformed directive, when targets run out or the next one is null, when the
// input ends before a directive, or when a conversion finds nothing to convert.
//
// Returns the number of values stored (count directives and suppressed ones not counted), or
// -1 when nothing was stored and the whole input was consumed when the scan stopped.
// Keeps no state, raises nothing, and never reads or writes outside the texts and targets.
int32_t ScanFormatted(const char* input, const char* format,
                      std::span<void* const> targets) noexcept;

}  // namespace velt
