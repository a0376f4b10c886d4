// The simulator's object database: channels, RTUs and points with their values and archives,
// loaded from a TOML file (format in tmserver/DATABASE.md). Names are held in Windows-1251, the
// form the wire carries.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Result.h"

namespace velt::tmsim {

// A value as a function of civil time (SliceTime.h): a constant or a generator.
struct ValueSource {
  enum class Kind { kNone, kConstant, kSine, kRamp, kStep };
  Kind kind = Kind::kNone;
  double value = 0;      // constant; ramp start; sine mean
  double amplitude = 0;  // sine
  double slope = 0;      // ramp, per hour
  int64_t period = 0;    // sine period, step length (seconds)
  int64_t origin = 0;    // civil time where sine phase and ramp and steps start
  std::vector<double> steps;

  std::optional<double> At(int64_t civil) const;
};

// Slice times from..to every `every` seconds, both ends included.
struct SliceGrid {
  int64_t from = 0;
  int64_t to = 0;
  int64_t every = 0;
  bool Contains(int64_t civil) const;
};

// An archive's slices: a grid of fixed times, and one relative to the server's start (the last
// days up to the start, say), both optional.
bool OnGrids(const std::optional<SliceGrid>& grid, const std::optional<SliceGrid>& recent,
             int64_t civil);

struct AnalogArchive {
  std::optional<SliceGrid> grid;
  std::optional<SliceGrid> recent;  // placed when the file is loaded
  ValueSource source;  // for the grid; the point's own source when the archive gives none
  std::map<int64_t, std::optional<double>> values;  // explicit slices; nullopt: no value
};

struct AnalogPoint {
  std::optional<std::string> name;
  ValueSource current;
  std::map<uint16_t, AnalogArchive> archives;
};

struct StatusPoint {
  std::optional<std::string> name;
  ValueSource current;
};

struct AccumValue {
  double reading = 0;
  double power = 0;
};

struct AccumArchive {
  std::optional<SliceGrid> grid;
  std::optional<SliceGrid> recent;
  ValueSource reading;  // for the grid; the point's own sources when the archive gives none
  ValueSource power;
  std::map<int64_t, std::optional<AccumValue>> values;
};

struct AccumPoint {
  std::optional<std::string> name;
  ValueSource reading;
  ValueSource power;
  std::optional<AccumArchive> archive;
};

struct Rtu {
  std::optional<std::string> name;
  std::map<uint16_t, StatusPoint> status;
  std::map<uint16_t, AnalogPoint> analog;
  std::map<uint16_t, AccumPoint> accum;
};

struct Channel {
  std::optional<std::string> name;
  std::map<uint16_t, Rtu> rtus;
};

struct Database {
  std::vector<std::string> greeting;  // messages sent to each client as it connects
  std::map<uint16_t, Channel> channels;

  const Rtu* FindRtu(uint16_t ch, uint16_t rtu) const;

  std::optional<int16_t> StatusAt(uint16_t ch, uint16_t rtu, uint16_t point, int64_t now) const;
  std::optional<float> AnalogNow(uint16_t ch, uint16_t rtu, uint16_t point, int64_t now) const;
  std::optional<float> AnalogAt(uint16_t ch, uint16_t rtu, uint16_t point, uint16_t archive,
                                int64_t slice) const;
  std::optional<std::pair<float, float>> AccumNow(uint16_t ch, uint16_t rtu, uint16_t point,
                                                  int64_t now) const;
  std::optional<std::pair<float, float>> AccumAt(uint16_t ch, uint16_t rtu, uint16_t point,
                                                 int64_t slice) const;
};

// start: the civil time that relative slice grids count from; the wall clock now when absent.
// The failure's text: "SOURCE:LINE:COLUMN: reason".
Result<Database> LoadDatabase(std::string_view toml_text, std::string_view source_name,
                              std::optional<int64_t> start = std::nullopt);
Result<Database> LoadDatabaseFile(const std::string& path,
                                  std::optional<int64_t> start = std::nullopt);

// A database of channels x rtus RTUs with a few points each, for load tests and benchmarks.
Database SyntheticDatabase(int channels, int rtus);

}  // namespace velt::tmsim
