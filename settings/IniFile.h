// A Windows-dialect INI document: "[Section]" lines and "Key=Value" lines, no escaping, no
// quoting on write, no continuation lines. Every line is kept as it was read, including
// comments, duplicates and lines that mean nothing; edits touch only the lines they must, the
// way the Windows profile functions rewrite a file. Look-ups follow those functions too: names
// are compared without regard to ASCII case, the first section and the first key of a name
// win, values are trimmed and a pair of matching quotes around a value is dropped.
//
// Not SimpleIni: it reads a "[name" line without its "]" as a header running on over the next
// line (and writes that back), drops lines it cannot parse and comments at the end of the
// file, and merges repeated sections; a file shared with the Windows program must survive us.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Utf8.h"

namespace velt {

// Settings files come from the Windows program in Windows-1251 and from this one in UTF-8.
// Valid UTF-8 is taken as it is (a byte-order mark is dropped); anything else is read as
// Windows-1251 and converted to UTF-8. Never fails: a byte with no character becomes U+FFFD.
std::string DecodeIniBytes(std::string_view bytes);

class IniDocument {
 public:
  // Lines end with LF or CRLF; text is UTF-8.
  static IniDocument Parse(std::string_view text);
  // CRLF after every line, so that the Windows program reads the file too.
  std::string Serialize() const;

  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;

  // Replaces the first occurrence of the key, or adds it at the end of the first section of
  // that name, or adds the section at the end of the document. Returns false, changing
  // nothing, when the value cannot be stored on one line (CR, LF or NUL in it) or a name is
  // not a valid key or section name.
  bool SetValue(std::string_view section, std::string_view key, std::string_view value);
  // Removes every occurrence of the key in every section of that name.
  void RemoveKey(std::string_view section, std::string_view key);
  // Removes every section of that name with all its lines. Returns the line index where the
  // first one began, so that a rewritten section can take its place.
  std::optional<std::size_t> EraseSection(std::string_view section);
  // Adds an empty section header at the given line index (or at the end).
  void InsertSection(std::string_view section, std::optional<std::size_t> at = std::nullopt);

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  struct Range {
    std::size_t header;  // index of the "[...]" line
    std::size_t end;     // one past the section's last line
  };
  std::vector<Range> Sections(std::string_view name) const;
  static std::optional<std::string> SectionName(std::string_view line);
  static bool KeyMatches(std::string_view line, std::string_view key, std::string* value);

  std::vector<std::string> lines_;
};

}  // namespace velt
