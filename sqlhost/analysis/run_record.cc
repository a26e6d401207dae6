#include "sqlhost/analysis/run_record.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "sqlhost/dao/sqlite_connection.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/project_growth.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/util/results_utilities.h"
#include "sqlhost/util/units.h"
#include "pramble/host/dao.h"

namespace pramble::sqlhost {
namespace {

using description::DefinitionSpec;
using description::Description;
using description::FieldSpec;

constexpr const char* kEnvDistance = "PRAMBLE_DISTANCE_UNIT";
constexpr const char* kEnvEffort = "PRAMBLE_EFFORT_UNIT";
constexpr const char* kEnvArea = "PRAMBLE_AREA_UNIT";
constexpr const char* kEnvStats = "PRAMBLE_PRECISE_STATS";
constexpr const char* kStatsFileName = "precise-stats.txt";

std::string DefinitionText(const std::vector<DefinitionSpec>& defs, std::int32_t id) {
  const DefinitionSpec* d = FindDefinition(defs, id);
  return d ? d->definition : "";
}

// The unit of the first field named `field` in a layer whose type lies in
// [low, high], the lowest layers first.
std::string FieldUnit(const Description& d, const std::string& field, int low, int high) {
  if (field.empty()) return "";
  for (auto layer = d.layers.rbegin(); layer != d.layers.rend(); ++layer) {
    if (layer->type < low || layer->type > high) continue;
    for (const FieldSpec& f : layer->fields)
      if (f.name == field) return f.units;
  }
  return "";
}

bool SameWords(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

void Unset() {
  for (const char* name : {kEnvDistance, kEnvEffort, kEnvArea, kEnvStats}) ::unsetenv(name);
}


nlohmann::json ToJson(const RunRecord& r) {
  nlohmann::json stats = nlohmann::json::object(), labels = nlohmann::json::object();
  for (const auto& [code, value] : r.stats) stats[std::to_string(code)] = value;
  for (const auto& [row, label] : r.region_labels) labels[std::to_string(row)] = label;
  return {{"units", {{"distance", r.units.distance}, {"effort", r.units.effort},
                     {"area", r.units.area}}},
          {"stats", stats},
          {"region_labels", labels}};
}

RunRecord FromJson(const nlohmann::json& j) {
  RunRecord r;
  r.units = {j["units"]["distance"], j["units"]["effort"], j["units"]["area"]};
  for (const auto& [code, value] : j["stats"].items()) r.stats[std::stoi(code)] = value;
  for (const auto& [row, label] : j["region_labels"].items()) r.region_labels[std::stoi(row)] = label;
  return r;
}

}  // namespace

const DefinitionSpec* FindDefinition(const std::vector<DefinitionSpec>& defs, std::int32_t id) {
  for (const DefinitionSpec& d : defs)
    if (d.id == id) return &d;
  return nullptr;
}

std::string OptionOf(const std::string& definition, const std::string& command,
                     const std::string& option, const std::string& otherwise) {
  const host::Command c = TextDefinitionReader().GetCommand(definition, command);
  return c.found ? c.LastOption(option).value_or(otherwise) : otherwise;
}

RunUnits UnitsOfItem(Project& project, std::int32_t id) {
  RunUnits u;
  const std::optional<ItemInfo> item = project.FindItem(id);
  if (!item) return u;
  const Description d = DescriptionOf(project);
  const std::string survey = DefinitionText(d.surveys, item->survey_id);
  const std::string filter = DefinitionText(d.data_filters, item->data_filter_id);
  u.distance = FieldUnit(d, OptionOf(survey, "PDist", "Fld"), 30, 39);
  u.effort = FieldUnit(d, OptionOf(survey, "Effort", "Fld"), 20, 29);
  const std::string area_unit = OptionOf(filter, "Units", "Area");
  const std::string area_field = OptionOf(survey, "Area", "Fld");
  if (!area_unit.empty()) {
    u.area = area_unit;
  } else if (!area_field.empty() && area_field != "None") {
    u.area = FieldUnit(d, area_field, 1, 19);
  }
  if (u.area.empty() && !u.effort.empty()) {
    std::string effort = u.effort;
    for (char& c : effort) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    u.area = "Square " + effort;
  }
  // Names as the unit table spells them.
  for (std::string* unit : {&u.distance, &u.effort, &u.area}) {
    for (const std::string& name : unit == &u.area ? AreaUnitNames() : LengthUnitNames())
      if (SameWords(name, *unit)) *unit = name;
  }
  return u;
}

RunRecord ParsePreciseStats(const std::string& text, const std::string& file) {
  RunRecord r;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::size_t tab = line.find('\t');
    const std::string first = line.substr(0, tab);
    try {
      if (tab == std::string::npos) throw std::invalid_argument("no tab");
      if (first == "label") {
        const std::size_t tab2 = line.find('\t', tab + 1);
        if (tab2 == std::string::npos) throw std::invalid_argument("no label");
        r.region_labels[std::stoi(line.substr(tab + 1, tab2 - tab - 1))] = line.substr(tab2 + 1);
      } else {
        std::size_t used = 0;
        const std::string value = line.substr(tab + 1);
        r.stats[std::stoi(first)] = std::stod(value, &used);
        if (used != value.size()) throw std::invalid_argument("trailing text");
      }
    } catch (const std::exception&) {
      throw std::runtime_error(file + ", line " + std::to_string(number) +
                               ": not a statistic (CODE<tab>VALUE) or a region label: '" +
                               line + "'");
    }
  }
  return r;
}

std::optional<RunRecord> ReadRunRecord(Project& project, std::int32_t id) {
  const Connection& db = project.project_database().connection();
  if (project.Database().TableExists(kRecordsTable)) {
    Statement s(db, std::string("SELECT record FROM ") + kRecordsTable + " WHERE analysis_id = ?1");
    s.Bind(1, host::Value{std::int64_t{id}});
    if (s.Step()) return FromJson(nlohmann::json::parse(s.ColumnText(0)));
  }
  const std::vector<ItemStat> stats = project.ItemStats(id);
  if (stats.empty()) return std::nullopt;
  RunRecord r;
  r.precise = false;
  r.units = UnitsOfItem(project, id);
  for (const ItemStat& s : stats) r.stats[s.code] = s.value;
  return r;
}

std::optional<std::string> StoredResultText(Project& project, std::int32_t id,
                                            const std::string& field) {
  // The engine's results table (it makes the table on its first save).
  static const std::string kResultsTable = "AnalysisQuoxResults";
  host::dao::Database& db = project.Database();
  if (!db.TableExists(kResultsTable)) return std::nullopt;
  auto rs = db.OpenRecordset("SELECT [" + field + "] FROM [" + kResultsTable +
                             "] WHERE [ID] = " + std::to_string(id));
  std::optional<std::string> text;
  if (!rs->Eof()) text = DecompressText(host::ToText(rs->Fields(field).GetValue()));
  rs->Close();
  return text;
}

RunRecorder::RunRecorder(Project& project, std::int32_t id) : project_(project), id_(id) {
  units_ = UnitsOfItem(project, id);
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pramble-record-XXXXXX";
  if (::mkdtemp(pattern.data())) folder_ = pattern;
  Unset();
  if (!units_.distance.empty()) ::setenv(kEnvDistance, units_.distance.c_str(), 1);
  if (!units_.effort.empty()) ::setenv(kEnvEffort, units_.effort.c_str(), 1);
  if (!units_.area.empty()) ::setenv(kEnvArea, units_.area.c_str(), 1);
  if (!folder_.empty()) ::setenv(kEnvStats, (folder_ + "/" + kStatsFileName).c_str(), 1);
}

RunRecorder::~RunRecorder() {
  Unset();
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

bool RunRecorder::Store() {
  // The engine cleared the item's statistics (and with them any record) when
  // it began to save this run's results: statistics now are this run's.
  if (folder_.empty() || project_.ItemStats(id_).empty()) return false;
  const std::string path = folder_ + "/" + kStatsFileName;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  RunRecord record = ParsePreciseStats(text.str(), path);
  record.units = units_;
  const Connection& db = project_.project_database().connection();
  db.Exec(std::string("CREATE TABLE IF NOT EXISTS ") + kRecordsTable + kRecordsColumns);
  Statement s(db, std::string("INSERT OR REPLACE INTO ") + kRecordsTable +
                      " (analysis_id, record) VALUES (?1, ?2)");
  s.Bind(1, host::Value{std::int64_t{id_}}).Bind(2, host::Value{ToJson(record).dump()}).Run();
  return true;
}

}  // namespace pramble::sqlhost
