#include "IniFile.h"

#include "AsciiText.h"
#include "Cp1251.h"
#include "Utf8.h"

#include <algorithm>
#include <cstdint>

namespace velt {

namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view Trim(std::string_view s) {
  return TrimAscii(s, kBlanks);
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsBlank(std::string_view line) {
  return Trim(line).empty();
}

}  // namespace

std::string DecodeIniBytes(std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return std::string(bytes);
  }
  // U+FFFD marks the one byte (0x98) that Windows-1251 leaves without a character.
  return Cp1251ToUtf8(bytes, "\xEF\xBF\xBD");
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    doc.lines_.emplace_back(line);
    start = end + 1;
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  std::size_t size = 0;
  for (const auto& line : lines_) size += line.size() + 2;
  out.reserve(size);
  for (const auto& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

std::optional<std::string> IniDocument::SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(Trim(line.substr(1, close - 1)));
}

bool IniDocument::KeyMatches(std::string_view line, std::string_view key, std::string* value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  if (!EqualNoCaseAscii(Trim(line.substr(0, eq)), key)) return false;
  if (value) {
    std::string_view v = Trim(line.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    *value = std::string(v);
  }
  return true;
}

std::vector<IniDocument::Range> IniDocument::Sections(std::string_view name) const {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<Range> ranges;
  std::size_t open = kNone;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    auto header = SectionName(lines_[i]);
    if (!header) continue;
    if (open != kNone) {
      ranges.push_back({open, i});
      open = kNone;
    }
    if (EqualNoCaseAscii(*header, name)) open = i;
  }
  if (open != kNone) ranges.push_back({open, lines_.size()});
  return ranges;
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
  for (const auto& range : Sections(section)) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
      std::string value;
      if (KeyMatches(lines_[i], key, &value)) return value;
    }
  }
  return std::nullopt;
}

bool IniDocument::HasSection(std::string_view section) const {
  return !Sections(section).empty();
}

bool IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || Trim(section) != section || section.find(']') != std::string_view::npos ||
      HasLineBreakOrNul(section)) {
    return false;
  }
  if (key.empty() || Trim(key) != key || key.find('=') != std::string_view::npos ||
      key.front() == '[' || key.front() == ';' || HasLineBreakOrNul(key) ||
      HasLineBreakOrNul(value)) {
    return false;
  }
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append("=").append(value);

  auto ranges = Sections(section);
  for (const auto& range : ranges) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
      if (KeyMatches(lines_[i], key, nullptr)) {
        lines_[i] = std::move(line);
        return true;
      }
    }
  }
  if (ranges.empty()) {
    InsertSection(section);
    ranges = Sections(section);
  }
  const Range& first = ranges.front();
  std::size_t at = first.end;
  while (at > first.header + 1 && IsBlank(lines_[at - 1])) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  return true;
}

void IniDocument::RemoveKey(std::string_view section, std::string_view key) {
  auto ranges = Sections(section);
  for (auto r = ranges.rbegin(); r != ranges.rend(); ++r) {
    for (std::size_t i = r->end; i-- > r->header + 1;) {
      if (KeyMatches(lines_[i], key, nullptr)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
}

std::optional<std::size_t> IniDocument::EraseSection(std::string_view section) {
  auto ranges = Sections(section);
  if (ranges.empty()) return std::nullopt;
  for (auto r = ranges.rbegin(); r != ranges.rend(); ++r) {
    // Blank lines that separate it from the next section stay.
    std::size_t end = r->end;
    while (end > r->header + 1 && IsBlank(lines_[end - 1])) --end;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(r->header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return ranges.front().header;
}

void IniDocument::InsertSection(std::string_view section, std::optional<std::size_t> at) {
  std::string header = "[" + std::string(section) + "]";
  if (at && *at < lines_.size()) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*at), std::move(header));
    return;
  }
  if (!lines_.empty() && !IsBlank(lines_.back())) lines_.emplace_back();
  lines_.push_back(std::move(header));
}

}  // namespace velt
