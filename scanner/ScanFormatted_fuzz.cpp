// libFuzzer entry for ScanFormatted. The data is one control byte, the format, a NUL, and the
// input text. Every target is sized to exactly what the largest legal store into it needs, so
// that the sanitizers see any write past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Directive.h"
#include "ScanFormatted.h"

namespace {

// The kinds of the targets the scanner may store into, in order: true for a std::string.
std::vector<bool> TargetKinds(const std::string& format) {
  constexpr size_t kMaxTargets = 64;
  std::vector<bool> kinds;
  auto p = reinterpret_cast<const unsigned char*>(format.c_str());
  while (*p != 0 && kinds.size() < kMaxTargets) {
    if (*p != '%') {
      ++p;
    } else if (p[1] == '%') {
      p += 2;
    } else {
      velt::scan::Directive d;
      p = velt::scan::ParseDirective(p + 1, d);
      if (p == nullptr) break;
      if (!d.suppress) kinds.push_back(d.IsDynamicString());
    }
  }
  return kinds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  const auto* text = reinterpret_cast<const char*>(data + 1);
  const size_t rest = size - 1;
  const size_t formatLength = strnlen(text, rest);
  const std::string format(text, formatLength);
  const std::string input = formatLength < rest
                                ? std::string(text + formatLength + 1, rest - formatLength - 1)
                                : std::string();
  // A NUL inside the input ends the text the scanner sees.
  const size_t inputLength = strlen(input.c_str());

  const std::vector<bool> kinds = TargetKinds(format);
  const size_t bufferSize = inputLength + 1 > 256 ? inputLength + 1 : 256;
  std::vector<std::unique_ptr<unsigned char[]>> buffers;
  std::vector<std::unique_ptr<std::string>> strings;
  std::vector<void*> targets;
  for (bool dynamic : kinds) {
    if (dynamic) {
      strings.push_back(std::make_unique<std::string>());
      targets.push_back(strings.back().get());
    } else {
      buffers.push_back(std::make_unique<unsigned char[]>(bufferSize));
      targets.push_back(buffers.back().get());
    }
  }
  // The control byte also tries a short target list and a null target.
  if ((control & 1) != 0 && !targets.empty()) targets.pop_back();
  if ((control & 2) != 0 && !targets.empty()) targets[targets.size() / 2] = nullptr;

  const int32_t result = velt::ScanFormatted(input.c_str(), format.c_str(), targets);
  if (result < -1 || result > static_cast<int32_t>(targets.size())) __builtin_trap();
  for (const auto& s : strings) {
    if (s->size() > inputLength) __builtin_trap();
  }
  return 0;
}
