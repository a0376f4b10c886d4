// libFuzzer target for the INI reader. Any bytes decode and parse; serialising and parsing
// again gives the same lines; a value stored and read back is the value.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = velt::DecodeIniBytes(bytes);
  if (!velt::IsValidUtf8(text)) std::abort();

  velt::IniDocument doc = velt::IniDocument::Parse(text);
  const velt::IniDocument again = velt::IniDocument::Parse(doc.Serialize());
  if (again.Lines() != doc.Lines()) std::abort();

  // The first line, whatever it is, as a section, a key and a value.
  const std::string probe = doc.Lines().empty() ? std::string() : doc.Lines().front();
  (void)doc.Value(probe, probe);
  (void)doc.HasSection(probe);
  if (doc.SetValue("Fuzz", "Key", probe)) {
    const auto value = doc.Value("Fuzz", "Key");
    if (!value) std::abort();
  }
  doc.RemoveKey(probe, probe);
  (void)doc.EraseSection(probe);
  return 0;
}
