// What a run leaves for the analyst beside the engine's 32-bit statistics:
// the same statistics at full precision, the labels of the regions they are
// numbered by, and the units the item's fields are measured in. The host
// records them around each run (RunRecorder); `pramble estimates`, `compare`
// and `report` read them (ReadRunRecord).
//
// R learns the units and where to write the precise statistics from the
// environment it is started with (docs/statistic-codes.md):
//   PRAMBLE_DISTANCE_UNIT, PRAMBLE_EFFORT_UNIT, PRAMBLE_AREA_UNIT  unit names
//   PRAMBLE_PRECISE_STATS   a file: "CODE<tab>VALUE" lines at full precision
//                           and "label<tab>ROW<tab>TEXT" lines naming the
//                           region of each row of the density statistics
//
//   RunRecorder recorder(*project, 12);   // before the engine's RunItem
//   ... the run ...
//   recorder.Store();                     // once the run has ended
//
// The record is kept in the project database (schema.h: analysis_records)
// and goes whenever the engine clears the item's statistics (a new run, a
// reset). Thread-safety: one thread; RunRecorder changes the process's
// environment, so one recorder at a time per process.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/project/description_reader.h"
#include "sqlhost/project/project.h"

namespace pramble::sqlhost {

// The units of an item's distances, effort and area. `area` is what
// densities are per: the data filter's Units /Area, else the area field's
// unit, else the square of the effort unit ("Square kilometer"). "" where a
// field or its unit is unknown.
struct RunUnits {
  std::string distance, effort, area;
};

// The units item `id` is analysed in, from its definitions and the fields'
// units.
RunUnits UnitsOfItem(Project& project, std::int32_t id);

struct RunRecord {
  RunUnits units;
  std::map<std::int32_t, double> stats;            // code -> value
  std::map<std::int32_t, std::string> region_labels;  // row (1..) -> label
  bool precise = true;  // false: the 32-bit statistics (no record was kept)

  // The statistic `code`; nullopt when the run wrote none.
  std::optional<double> Stat(std::int32_t code) const {
    const auto it = stats.find(code);
    if (it == stats.end()) return std::nullopt;
    return it->second;
  }
};

// Definition `id` of `defs` (a project's surveys, data filters or model
// definitions); nullptr when there is none.
const description::DefinitionSpec* FindDefinition(
    const std::vector<description::DefinitionSpec>& defs, std::int32_t id);

// The value of option `option` of the first command `command` of
// `definition`; `otherwise` when the command or the option is not there.
std::string OptionOf(const std::string& definition, const std::string& command,
                     const std::string& option, const std::string& otherwise = "");

// Item `id`'s record; when none was kept but the engine stored statistics,
// those (precise false) with the units of UnitsOfItem. nullopt when the
// item has no statistics.
std::optional<RunRecord> ReadRunRecord(Project& project, std::int32_t id);

// Reads a precise statistics file as R writes it; `file` names it in the
// message of the std::runtime_error thrown for a line that cannot be read.
RunRecord ParsePreciseStats(const std::string& text, const std::string& file);

// The text of the item's stored results row, field "Log" or "Output",
// decompressed; nullopt when the item has no stored results.
std::optional<std::string> StoredResultText(Project& project, std::int32_t id,
                                            const std::string& field);

class RunRecorder {
 public:
  // Sets R's environment for a run of item `id` (a scratch folder in TMPDIR
  // receives the precise statistics).
  RunRecorder(Project& project, std::int32_t id);
  ~RunRecorder();
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  // Keeps the record when the engine stored statistics in this run; returns
  // false, keeping nothing, when it did not or the file cannot be read.
  bool Store();

 private:
  Project& project_;
  std::int32_t id_;
  RunUnits units_;
  std::string folder_;
};

}  // namespace pramble::sqlhost
