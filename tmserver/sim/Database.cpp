#include "Database.h"

#include <toml++/toml.h>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>
#include <stdexcept>

#include "Cp1251.h"
#include "SliceTime.h"

namespace velt::tmsim {

std::optional<double> ValueSource::At(int64_t civil) const {
  switch (kind) {
    case Kind::kNone:
      return std::nullopt;
    case Kind::kConstant:
      return value;
    case Kind::kSine:
      return value +
             amplitude * std::sin(2 * std::numbers::pi * static_cast<double>(civil - origin) /
                                  static_cast<double>(period));
    case Kind::kRamp:
      return value + slope * static_cast<double>(civil - origin) / 3600.0;
    case Kind::kStep: {
      int64_t index = (civil - origin) / period;
      if ((civil - origin) % period < 0) --index;  // floor for times before the origin
      const auto n = static_cast<int64_t>(steps.size());
      index %= n;
      if (index < 0) index += n;
      return steps[static_cast<size_t>(index)];
    }
  }
  return std::nullopt;
}

bool SliceGrid::Contains(int64_t civil) const {
  return civil >= from && civil <= to && (civil - from) % every == 0;
}

bool OnGrids(const std::optional<SliceGrid>& grid, const std::optional<SliceGrid>& recent,
             int64_t civil) {
  return (grid && grid->Contains(civil)) || (recent && recent->Contains(civil));
}

const Rtu* Database::FindRtu(uint16_t ch, uint16_t rtu) const {
  const auto c = channels.find(ch);
  if (c == channels.end()) return nullptr;
  const auto r = c->second.rtus.find(rtu);
  return r == c->second.rtus.end() ? nullptr : &r->second;
}

namespace {

template <class Map>
const typename Map::mapped_type* FindPoint(const Map& points, uint16_t number) {
  const auto it = points.find(number);
  return it == points.end() ? nullptr : &it->second;
}

std::optional<std::pair<float, float>> AccumFrom(const ValueSource& reading,
                                                 const ValueSource& power, int64_t t) {
  const auto r = reading.At(t);
  const auto p = power.At(t);
  if (!r || !p) return std::nullopt;
  return std::pair{static_cast<float>(*r), static_cast<float>(*p)};
}

}  // namespace

std::optional<int16_t> Database::StatusAt(uint16_t ch, uint16_t rtu, uint16_t point,
                                          int64_t now) const {
  const Rtu* r = FindRtu(ch, rtu);
  const StatusPoint* p = r != nullptr ? FindPoint(r->status, point) : nullptr;
  if (p == nullptr) return std::nullopt;
  const auto v = p->current.At(now);
  if (!v) return std::nullopt;
  return static_cast<int16_t>(*v);
}

std::optional<float> Database::AnalogNow(uint16_t ch, uint16_t rtu, uint16_t point,
                                         int64_t now) const {
  const Rtu* r = FindRtu(ch, rtu);
  const AnalogPoint* p = r != nullptr ? FindPoint(r->analog, point) : nullptr;
  if (p == nullptr) return std::nullopt;
  const auto v = p->current.At(now);
  if (!v) return std::nullopt;
  return static_cast<float>(*v);
}

std::optional<float> Database::AnalogAt(uint16_t ch, uint16_t rtu, uint16_t point, uint16_t archive,
                                        int64_t slice) const {
  const Rtu* r = FindRtu(ch, rtu);
  const AnalogPoint* p = r != nullptr ? FindPoint(r->analog, point) : nullptr;
  if (p == nullptr) return std::nullopt;
  const auto a = p->archives.find(archive);
  if (a == p->archives.end()) return std::nullopt;
  const AnalogArchive& arch = a->second;
  if (const auto e = arch.values.find(slice); e != arch.values.end()) {
    if (!e->second) return std::nullopt;
    return static_cast<float>(*e->second);
  }
  if (!OnGrids(arch.grid, arch.recent, slice)) return std::nullopt;
  const ValueSource& source =
      arch.source.kind != ValueSource::Kind::kNone ? arch.source : p->current;
  const auto v = source.At(slice);
  if (!v) return std::nullopt;
  return static_cast<float>(*v);
}

std::optional<std::pair<float, float>> Database::AccumNow(uint16_t ch, uint16_t rtu, uint16_t point,
                                                          int64_t now) const {
  const Rtu* r = FindRtu(ch, rtu);
  const AccumPoint* p = r != nullptr ? FindPoint(r->accum, point) : nullptr;
  if (p == nullptr) return std::nullopt;
  return AccumFrom(p->reading, p->power, now);
}

std::optional<std::pair<float, float>> Database::AccumAt(uint16_t ch, uint16_t rtu, uint16_t point,
                                                         int64_t slice) const {
  const Rtu* r = FindRtu(ch, rtu);
  const AccumPoint* p = r != nullptr ? FindPoint(r->accum, point) : nullptr;
  if (p == nullptr || !p->archive) return std::nullopt;
  const AccumArchive& arch = *p->archive;
  if (const auto e = arch.values.find(slice); e != arch.values.end()) {
    if (!e->second) return std::nullopt;
    return std::pair{static_cast<float>(e->second->reading), static_cast<float>(e->second->power)};
  }
  if (!OnGrids(arch.grid, arch.recent, slice)) return std::nullopt;
  const bool own =
      arch.reading.kind != ValueSource::Kind::kNone || arch.power.kind != ValueSource::Kind::kNone;
  return own ? AccumFrom(arch.reading, arch.power, slice) : AccumFrom(p->reading, p->power, slice);
}

// ---------------------------------------------------------------------------------------------
// Loading

namespace {

struct LoadError : std::runtime_error {
  LoadError(const toml::source_region& where, const std::string& what)
      : std::runtime_error(what), line(where.begin.line), column(where.begin.column) {}
  toml::source_index line;
  toml::source_index column;
};

[[noreturn]] void Fail(const toml::node& node, const std::string& what) {
  throw LoadError(node.source(), what);
}

// Walks one table, handing out its keys and refusing any it was not asked for.
class TableReader {
 public:
  TableReader(const toml::table& table, std::string what) : table_(table), what_(std::move(what)) {}

  const toml::node* Find(std::string_view key) {
    used_.insert(std::string(key));
    return table_.get(key);
  }
  const toml::node& Require(std::string_view key) {
    const toml::node* node = Find(key);
    if (node == nullptr) Fail(table_, what_ + ": \"" + std::string(key) + "\" is missing");
    return *node;
  }
  const toml::table& Table() const { return table_; }
  const std::string& What() const { return what_; }

  // Every key of the table must have been looked at.
  void Done() const {
    for (const auto& [key, node] : table_) {
      if (!used_.contains(std::string(key.str()))) {
        throw LoadError(key.source(), what_ + ": unknown key \"" + std::string(key.str()) + "\"");
      }
    }
  }

 private:
  const toml::table& table_;
  std::string what_;
  std::set<std::string> used_;
};

const toml::table& AsTable(const toml::node& node, const std::string& what) {
  const toml::table* t = node.as_table();
  if (t == nullptr) Fail(node, what + " must be a table");
  return *t;
}

double AsNumber(const toml::node& node, const std::string& what) {
  if (const auto i = node.value_exact<int64_t>()) return static_cast<double>(*i);
  if (const auto d = node.value_exact<double>()) {
    if (!std::isfinite(*d)) Fail(node, what + " must be a finite number");
    return *d;
  }
  Fail(node, what + " must be a number");
}

int64_t AsInteger(const toml::node& node, const std::string& what, int64_t min, int64_t max) {
  const auto i = node.value_exact<int64_t>();
  if (!i) Fail(node, what + " must be an integer");
  if (*i < min || *i > max) {
    Fail(node, what + " must be from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return *i;
}

int64_t AsTime(const toml::node& node, const std::string& what) {
  if (const auto* s = node.as_string()) {
    const auto t = ParseSliceTime(s->get());
    if (!t) Fail(node, what + ": \"" + s->get() + "\" is not a time");
    return *t;
  }
  if (const auto* dt = node.as_date_time()) {
    const toml::date_time& v = dt->get();
    if (v.offset) Fail(node, what + ": a time with a zone offset is not allowed");
    return CivilSeconds(v.date.year, v.date.month, v.date.day, v.time.hour, v.time.minute,
                        v.time.second);
  }
  if (const auto* d = node.as_date()) {
    const toml::date& v = d->get();
    return CivilSeconds(v.year, v.month, v.day, 0, 0, 0);
  }
  Fail(node, what + " must be a time text or a TOML date-time");
}

std::string AsName(const toml::node& node, const std::string& what) {
  const auto* s = node.as_string();
  if (s == nullptr) Fail(node, what + " must be a text");
  std::string cp1251;
  if (!Utf8ToCp1251Strict(s->get(), cp1251)) {
    Fail(node, what + " holds a character that Windows-1251 cannot represent");
  }
  if (cp1251.find('\0') != std::string::npos) Fail(node, what + " holds a NUL character");
  if (cp1251.size() > 1024) Fail(node, what + " is longer than 1024 characters");
  return cp1251;
}

// A generator table: reads `key` = { ... } with the given keys.
ValueSource ReadGenerator(const toml::node& node, std::string_view key, const std::string& what) {
  const std::string gwhat = what + "." + std::string(key);
  TableReader t(AsTable(node, gwhat), gwhat);
  ValueSource s;
  if (const auto* o = t.Find("origin")) s.origin = AsTime(*o, gwhat + ".origin");
  if (key == "sine") {
    s.kind = ValueSource::Kind::kSine;
    s.value = AsNumber(t.Require("mean"), gwhat + ".mean");
    s.amplitude = AsNumber(t.Require("amplitude"), gwhat + ".amplitude");
    s.period = AsInteger(t.Require("period"), gwhat + ".period", 1, INT32_MAX);
  } else if (key == "ramp") {
    s.kind = ValueSource::Kind::kRamp;
    s.value = AsNumber(t.Require("start"), gwhat + ".start");
    s.slope = AsNumber(t.Require("per_hour"), gwhat + ".per_hour");
  } else {
    s.kind = ValueSource::Kind::kStep;
    s.period = AsInteger(t.Require("every"), gwhat + ".every", 1, INT32_MAX);
    const toml::node& values = t.Require("values");
    const toml::array* a = values.as_array();
    if (a == nullptr || a->empty()) Fail(values, gwhat + ".values must be a non-empty array");
    for (const toml::node& v : *a) s.steps.push_back(AsNumber(v, gwhat + ".values"));
  }
  t.Done();
  return s;
}

// The value keys of a table (value, sine, ramp, step); at most one may be given.
ValueSource ReadSource(TableReader& t) {
  ValueSource source;
  const toml::node* given = nullptr;
  for (std::string_view key : {"value", "sine", "ramp", "step"}) {
    const toml::node* node = t.Find(key);
    if (node == nullptr) continue;
    if (given != nullptr) Fail(*node, t.What() + ": give only one of value, sine, ramp and step");
    given = node;
    if (key == "value") {
      source.kind = ValueSource::Kind::kConstant;
      source.value = AsNumber(*node, t.What() + ".value");
    } else {
      source = ReadGenerator(*node, key, t.What());
    }
  }
  return source;
}

// reading = 12.5, or reading = { value | sine | ramp | step }.
ValueSource ReadNamedSource(TableReader& t, std::string_view key) {
  const toml::node* node = t.Find(key);
  if (node == nullptr) return {};
  const std::string what = t.What() + "." + std::string(key);
  if (!node->is_table()) {
    ValueSource s;
    s.kind = ValueSource::Kind::kConstant;
    s.value = AsNumber(*node, what);
    return s;
  }
  TableReader inner(*node->as_table(), what);
  ValueSource s = ReadSource(inner);
  inner.Done();
  if (s.kind == ValueSource::Kind::kNone) Fail(*node, what + ": give value, sine, ramp or step");
  return s;
}

std::optional<SliceGrid> ReadGrid(TableReader& t) {
  const toml::node* from = t.Find("from");
  const toml::node* to = t.Find("to");
  const toml::node* every = t.Find("every");
  if (from == nullptr && to == nullptr && every == nullptr) return std::nullopt;
  if (from == nullptr || to == nullptr || every == nullptr) {
    Fail(t.Table(), t.What() + ": a slice grid needs all of from, to and every");
  }
  SliceGrid g;
  g.from = AsTime(*from, t.What() + ".from");
  g.to = AsTime(*to, t.What() + ".to");
  g.every = AsInteger(*every, t.What() + ".every", 1, INT32_MAX);
  if (g.to < g.from) Fail(*to, t.What() + ": \"to\" comes before \"from\"");
  return g;
}

// recent = { last = S, every = S, next = S }: the slices from `last` seconds before the server's
// start up to `next` seconds after it (default 0), on whole multiples of `every` counted from
// 01.01.1970 00:00 (so hourly slices fall on whole hours).
std::optional<SliceGrid> ReadRecentGrid(TableReader& t, int64_t start) {
  const toml::node* node = t.Find("recent");
  if (node == nullptr) return std::nullopt;
  const std::string what = t.What() + ".recent";
  TableReader r(AsTable(*node, what), what);
  const int64_t last = AsInteger(r.Require("last"), what + ".last", 0, INT32_MAX);
  const int64_t every = AsInteger(r.Require("every"), what + ".every", 1, INT32_MAX);
  int64_t next = 0;
  if (const auto* n = r.Find("next")) next = AsInteger(*n, what + ".next", 0, INT32_MAX);
  r.Done();
  const int64_t base = start - (((start % every) + every) % every);
  return SliceGrid{base - last / every * every, base + next / every * every, every};
}

// Calls fn(table, what) for each table of an array of tables under key.
template <class Fn>
void ForEachTable(TableReader& parent, std::string_view key, const std::string& what, Fn fn) {
  const toml::node* node = parent.Find(key);
  if (node == nullptr) return;
  const toml::array* a = node->as_array();
  if (a == nullptr) Fail(*node, what + " must be an array of tables ([[...]])");
  for (const toml::node& item : *a) fn(AsTable(item, what), what);
}

uint16_t ReadNumber(TableReader& t, int64_t min) {
  return static_cast<uint16_t>(AsInteger(t.Require("number"), t.What() + ".number", min, 65535));
}

template <class Map>
typename Map::mapped_type& Insert(Map& map, uint16_t number, const toml::table& table,
                                  const std::string& what) {
  auto [it, inserted] = map.try_emplace(number);
  if (!inserted) Fail(table, what + " " + std::to_string(number) + " is given twice");
  return it->second;
}

void ReadAnalog(const toml::table& table, const std::string& what, Rtu& rtu, int64_t start) {
  TableReader t(table, what);
  const uint16_t number = ReadNumber(t, 0);
  AnalogPoint& p = Insert(rtu.analog, number, table, what);
  if (const auto* n = t.Find("name")) p.name = AsName(*n, what + ".name");
  p.current = ReadSource(t);
  ForEachTable(t, "archive", what + ".archive", [&](const toml::table& at, const std::string& aw) {
    TableReader a(at, aw);
    const auto archive_number =
        static_cast<uint16_t>(AsInteger(a.Require("number"), aw + ".number", 0, 65535));
    AnalogArchive& arch = Insert(p.archives, archive_number, at, aw);
    arch.grid = ReadGrid(a);
    arch.recent = ReadRecentGrid(a, start);
    arch.source = ReadSource(a);
    if ((arch.grid || arch.recent) && arch.source.kind == ValueSource::Kind::kNone &&
        p.current.kind == ValueSource::Kind::kNone) {
      Fail(at, aw + ": a slice grid needs a value source here or on the point");
    }
    ForEachTable(a, "values", aw + ".values", [&](const toml::table& vt, const std::string& vw) {
      TableReader v(vt, vw);
      const int64_t time = AsTime(v.Require("time"), vw + ".time");
      std::optional<double> value;
      if (const auto* n = v.Find("value")) value = AsNumber(*n, vw + ".value");
      if (!arch.values.emplace(time, value).second) Fail(vt, vw + ": this time is given twice");
      v.Done();
    });
    a.Done();
  });
  t.Done();
}

void ReadStatus(const toml::table& table, const std::string& what, Rtu& rtu) {
  TableReader t(table, what);
  const uint16_t number = ReadNumber(t, 0);
  StatusPoint& p = Insert(rtu.status, number, table, what);
  if (const auto* n = t.Find("name")) p.name = AsName(*n, what + ".name");
  if (const auto* v = t.Find("value")) {
    p.current.kind = ValueSource::Kind::kConstant;
    p.current.value = static_cast<double>(AsInteger(*v, what + ".value", 0, 32767));
  }
  if (const auto* s = t.Find("step")) {
    if (p.current.kind != ValueSource::Kind::kNone) Fail(*s, what + ": give value or step");
    p.current = ReadGenerator(*s, "step", what);
    for (double v : p.current.steps) {
      if (v != std::floor(v) || v < 0 || v > 32767) {
        Fail(*s, what + ".step.values must be integers from 0 to 32767");
      }
    }
  }
  for (std::string_view bad : {"sine", "ramp"}) {
    if (const auto* n = t.Find(bad)) Fail(*n, what + ": a status point takes value or step");
  }
  t.Done();
}

void ReadAccum(const toml::table& table, const std::string& what, Rtu& rtu, int64_t start) {
  TableReader t(table, what);
  const uint16_t number = ReadNumber(t, 0);
  AccumPoint& p = Insert(rtu.accum, number, table, what);
  if (const auto* n = t.Find("name")) p.name = AsName(*n, what + ".name");
  p.reading = ReadNamedSource(t, "reading");
  p.power = ReadNamedSource(t, "power");
  if (const auto* an = t.Find("archive")) {
    const std::string aw = what + ".archive";
    TableReader a(AsTable(*an, aw), aw);
    AccumArchive& arch = p.archive.emplace();
    arch.grid = ReadGrid(a);
    arch.recent = ReadRecentGrid(a, start);
    arch.reading = ReadNamedSource(a, "reading");
    arch.power = ReadNamedSource(a, "power");
    const bool own = arch.reading.kind != ValueSource::Kind::kNone ||
                     arch.power.kind != ValueSource::Kind::kNone;
    if (own && (arch.reading.kind == ValueSource::Kind::kNone ||
                arch.power.kind == ValueSource::Kind::kNone)) {
      Fail(*an, aw + ": give both reading and power, or neither");
    }
    ForEachTable(a, "values", aw + ".values", [&](const toml::table& vt, const std::string& vw) {
      TableReader v(vt, vw);
      const int64_t time = AsTime(v.Require("time"), vw + ".time");
      const toml::node* r = v.Find("reading");
      const toml::node* pw = v.Find("power");
      std::optional<AccumValue> value;
      if ((r == nullptr) != (pw == nullptr)) Fail(vt, vw + ": give both reading and power");
      if (r != nullptr) {
        value = AccumValue{AsNumber(*r, vw + ".reading"), AsNumber(*pw, vw + ".power")};
      }
      if (!arch.values.emplace(time, value).second) Fail(vt, vw + ": this time is given twice");
      v.Done();
    });
    a.Done();
  }
  t.Done();
}

Database ReadDatabase(const toml::table& root, int64_t start) {
  Database db;
  TableReader top(root, "database");
  if (const auto* g = top.Find("greeting")) {
    if (const toml::array* a = g->as_array()) {
      for (const toml::node& m : *a) db.greeting.push_back(AsName(m, "greeting"));
    } else {
      db.greeting.push_back(AsName(*g, "greeting"));
    }
  }
  ForEachTable(top, "channel", "channel", [&](const toml::table& ct, const std::string& cw) {
    TableReader c(ct, cw);
    Channel& channel = Insert(db.channels, ReadNumber(c, 0), ct, cw);
    if (const auto* n = c.Find("name")) channel.name = AsName(*n, cw + ".name");
    ForEachTable(c, "rtu", "rtu", [&](const toml::table& rt, const std::string& rw) {
      TableReader r(rt, rw);
      Rtu& rtu = Insert(channel.rtus, ReadNumber(r, 0), rt, rw);
      if (const auto* n = r.Find("name")) rtu.name = AsName(*n, rw + ".name");
      ForEachTable(r, "status", "status point",
                   [&](const toml::table& t, const std::string& w) { ReadStatus(t, w, rtu); });
      ForEachTable(r, "analog", "analog point", [&](const toml::table& t, const std::string& w) {
        ReadAnalog(t, w, rtu, start);
      });
      ForEachTable(
          r, "accum", "accumulator point",
          [&](const toml::table& t, const std::string& w) { ReadAccum(t, w, rtu, start); });
      r.Done();
    });
    c.Done();
  });
  top.Done();
  return db;
}

std::string Where(std::string_view source, toml::source_index line, toml::source_index column) {
  return std::string(source) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

}  // namespace

Result<Database> LoadDatabase(std::string_view toml_text, std::string_view source_name,
                              std::optional<int64_t> start) {
  try {
    const toml::table root = toml::parse(toml_text, source_name);
    return ReadDatabase(root, start ? *start : CivilNow());
  } catch (const toml::parse_error& e) {
    return Failure{EINVAL, Where(source_name, e.source().begin.line, e.source().begin.column) +
                               std::string(e.description())};
  } catch (const LoadError& e) {
    return Failure{EINVAL, Where(source_name, e.line, e.column) + e.what()};
  }
}

Result<Database> LoadDatabaseFile(const std::string& path, std::optional<int64_t> start) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{ENOENT, path + ": cannot open the file"};
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return Failure{EIO, path + ": cannot read the file"};
  return LoadDatabase(text.str(), path, start);
}

Database SyntheticDatabase(int channels, int rtus) {
  Database db;
  for (int c = 1; c <= channels; ++c) {
    Channel& channel = db.channels[static_cast<uint16_t>(c)];
    channel.name = Utf8ToCp1251("Канал " + std::to_string(c));
    for (int r = 1; r <= rtus; ++r) {
      Rtu& rtu = channel.rtus[static_cast<uint16_t>(r)];
      rtu.name = Utf8ToCp1251("КП " + std::to_string(c) + "." + std::to_string(r));
      for (uint16_t p = 1; p <= 4; ++p) {
        StatusPoint& s = rtu.status[p];
        s.name = Utf8ToCp1251("Выключатель " + std::to_string(p));
        s.current.kind = ValueSource::Kind::kConstant;
        s.current.value = p % 2;
        AnalogPoint& a = rtu.analog[p];
        a.name = Utf8ToCp1251("Ток фидера " + std::to_string(p) + ", А");
        a.current.kind = ValueSource::Kind::kConstant;
        a.current.value = 100.0 * c + r + p / 10.0;
      }
      AccumPoint& e = rtu.accum[1];
      e.name = Utf8ToCp1251("Счётчик активной энергии");
      e.reading.kind = ValueSource::Kind::kConstant;
      e.reading.value = 1000.0 * r;
      e.power.kind = ValueSource::Kind::kConstant;
      e.power.value = c;
    }
  }
  return db;
}

}  // namespace velt::tmsim
