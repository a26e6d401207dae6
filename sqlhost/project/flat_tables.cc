#include "sqlhost/project/flat_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "pramble/host/value.h"
#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/description_json.h"
#include "sqlhost/project/project_error.h"
#include "sqlhost/util/number_text.h"
#include "sqlhost/util/units.h"

namespace pramble::sqlhost {
namespace {

using json = nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw DescriptionError(where + ": " + what);
}

std::string Join(const std::vector<std::string>& items) {
  return description::JoinTexts(items, ", ");
}

// One CSV table with a header row; cells are read by column name with the
// file, line and column named when a cell is not what it must be.
class Table {
 public:
  Table(const std::string& path, const std::vector<std::string>& required) : path_(path) {
    rows_ = ReadCsvFile(path, path);
    if (rows_.empty()) Fail(path, "the file is empty; its first row names the columns");
    header_ = rows_.front().cells;
    rows_.erase(rows_.begin());
    if (header_.size() == 1) {
      for (const char* separator : {";", "\t"}) {
        if (header_[0].find(separator) != std::string::npos) {
          Fail(path + ":1", std::string("the header holds ") +
                                (*separator == ';' ? "';'" : "tabs") +
                                " and no ','; the columns must be separated by commas (save the "
                                "table as comma-separated values)");
        }
      }
    }
    for (std::size_t i = 0; i < header_.size(); ++i) {
      for (std::size_t k = 0; k < i; ++k) {
        if (host::EqualsNoCase(header_[i], header_[k]))
          Fail(path + ":1", "the column '" + header_[i] + "' stands twice");
      }
    }
    for (const std::string& name : required) {
      if (Column(name) < 0) {
        Fail(path + ":1", "no column '" + name + "' (the columns are: " + Join(header_) + ")");
      }
    }
    for (const CsvRecord& r : rows_) {
      if (r.cells.size() != header_.size()) {
        Fail(Where(r), std::to_string(r.cells.size()) + " cells where the header has " +
                           std::to_string(header_.size()));
      }
    }
  }

  int Column(const std::string& name) const {
    for (std::size_t i = 0; i < header_.size(); ++i) {
      if (host::EqualsNoCase(header_[i], name)) return static_cast<int>(i);
    }
    return -1;
  }
  const std::vector<std::string>& header() const { return header_; }
  const std::vector<CsvRecord>& rows() const { return rows_; }
  const std::string& path() const { return path_; }
  std::string Where(const CsvRecord& r) const { return path_ + ":" + std::to_string(r.line); }

  std::string Text(const CsvRecord& r, int column) const {
    const std::string& cell = r.cells[column];
    if (cell.empty()) Fail(Where(r), "column '" + header_[column] + "' is empty");
    return cell;
  }
  double Number(const CsvRecord& r, int column, double at_least) const {
    const std::string cell = Text(r, column);
    if (!host::IsNumeric(cell))
      Fail(Where(r), "column '" + header_[column] + "': '" + cell + "' is not a number");
    const double x = host::ParseNumber(cell);
    if (!(x >= at_least)) {
      Fail(Where(r), "column '" + header_[column] + "': " + cell + " is below " +
                         ShortestNumberText(at_least));
    }
    return x;
  }
  std::int64_t Whole(const CsvRecord& r, int column, std::int64_t low, std::int64_t high) const {
    const double x = Number(r, column, static_cast<double>(low));
    if (x != std::floor(x) || x > static_cast<double>(high)) {
      Fail(Where(r), "column '" + header_[column] + "': " + r.cells[column] + " is not " +
                         (high == low + 1 ? std::to_string(low) + " or " + std::to_string(high)
                                          : "a whole number from " + std::to_string(low)));
    }
    return static_cast<std::int64_t>(x);
  }

 private:
  std::string path_;
  std::vector<std::string> header_;
  std::vector<CsvRecord> rows_;
};

json Field(const std::string& name, const std::string& kind, const std::string& units = "") {
  json f = {{"name", name}, {"kind", kind}};
  if (!units.empty()) f["units"] = units;
  return f;
}

void CheckUnit(const std::string& option, const std::string& unit, bool area) {
  const bool known = area ? SquareMetresPerAreaUnit(unit).has_value()
                          : MetresPerLengthUnit(unit).has_value();
  if (!known) {
    Fail(option, "'" + unit + "' is not " +
                     (area ? "an area unit: one of " + Join(AreaUnitNames())
                           : "a length unit: one of " + Join(LengthUnitNames())));
  }
}

struct Transects {
  json regions = json::array(), transects = json::array();
  std::map<std::string, std::int64_t> ids;  // transect label -> ID
  double total_area = 0;
};

Transects ReadTransects(const std::string& path) {
  const Table t(path, {"region", "region_area", "transect", "effort"});
  const int region = t.Column("region"), area = t.Column("region_area");
  const int transect = t.Column("transect"), effort = t.Column("effort");
  Transects out;
  std::map<std::string, std::pair<std::int64_t, double>> regions;  // name -> ID, area
  std::map<std::string, int> lines;
  for (const CsvRecord& r : t.rows()) {
    const std::string name = t.Text(r, region);
    const double a = t.Number(r, area, 0);
    auto [it, fresh] = regions.emplace(name, std::pair{std::int64_t(regions.size() + 1), a});
    if (fresh) {
      out.regions.push_back({it->second.first, 1, name, a});
      out.total_area += a;
    } else if (it->second.second != a) {
      Fail(t.Where(r), "column 'region_area': " + r.cells[area] + " differs from the area " +
                           ShortestNumberText(it->second.second) + " given before for region '" +
                           name + "'");
    }
    const std::string label = t.Text(r, transect);
    if (auto [seen, first] = lines.emplace(label, r.line); !first) {
      Fail(t.Where(r), "column 'transect': '" + label + "' stands twice (first on line " +
                           std::to_string(seen->second) + ")");
    }
    const std::int64_t id = static_cast<std::int64_t>(out.ids.size() + 1);
    out.ids[label] = id;
    out.transects.push_back({id, it->second.first, label, t.Number(r, effort, 0)});
  }
  if (out.ids.empty()) Fail(path, "the table has no transects");
  return out;
}

}  // namespace

FlatDescription DescribeFlatTables(const FlatTables& flat) {
  CheckUnit("--distance-unit", flat.distance_unit, false);
  CheckUnit("--effort-unit", flat.effort_unit, false);
  CheckUnit("--area-unit", flat.area_unit, true);
  const Transects tr = ReadTransects(flat.transects);
  const Table s(flat.sightings, {"transect", "object", "distance"});
  const int transect = s.Column("transect"), object = s.Column("object");
  const int distance = s.Column("distance"), observer = s.Column("observer");
  const int detected = s.Column("detected"), size = s.Column("size");
  const bool two = observer >= 0;
  if ((observer >= 0) != (detected >= 0)) {
    Fail(flat.sightings + ":1", std::string("a column '") + (two ? "observer" : "detected") +
                                    "' without '" + (two ? "detected" : "observer") +
                                    "' (two observers need both)");
  }
  // Every other column is a covariate: numbers when every cell is one.
  std::vector<int> covariates;
  for (int c = 0; c < static_cast<int>(s.header().size()); ++c) {
    if (c == transect || c == object || c == distance || c == observer || c == detected ||
        c == size)
      continue;
    for (const char* own : {"ID", "ParentID"}) {
      if (host::EqualsNoCase(s.header()[c], own)) {
        Fail(flat.sightings + ":1", "the column '" + s.header()[c] +
                                        "' would clash with the observation layer's own '" +
                                        own + "' field; rename it");
      }
    }
    covariates.push_back(c);
  }
  std::vector<bool> numeric(covariates.size(), true);
  for (const CsvRecord& r : s.rows()) {
    for (std::size_t k = 0; k < covariates.size(); ++k) {
      const std::string& cell = r.cells[covariates[k]];
      if (!cell.empty() && !host::IsNumeric(cell)) numeric[k] = false;
    }
  }

  json rows = json::array();
  double largest = 0;
  // object -> the line of its row for each observer, and its transect
  std::map<std::int64_t, std::array<int, 3>> objects;
  std::map<std::int64_t, std::string> object_transect;
  std::set<std::string> seen_transects;
  for (const CsvRecord& r : s.rows()) {
    const std::string label = s.Text(r, transect);
    const auto t = tr.ids.find(label);
    if (t == tr.ids.end()) {
      Fail(s.Where(r), "column 'transect': '" + label + "' is no transect of " + flat.transects);
    }
    seen_transects.insert(label);
    const std::int64_t obj = s.Whole(r, object, 1, INT32_MAX);
    const double d = s.Number(r, distance, 0);
    largest = std::max(largest, d);
    const std::int64_t who = two ? s.Whole(r, observer, 1, 2) : 1;
    const std::int64_t seen = two ? s.Whole(r, detected, 0, 1) : 1;
    auto& lines = objects[obj];
    if (lines[who] != 0) {
      Fail(s.Where(r), "a second row of object " + std::to_string(obj) + " for observer " +
                           std::to_string(who) + " (the first is on line " +
                           std::to_string(lines[who]) + ")");
    }
    lines[who] = r.line;
    lines[0] += static_cast<int>(seen);
    if (auto [on, first] = object_transect.emplace(obj, label); !first && on->second != label) {
      Fail(s.Where(r), "object " + std::to_string(obj) + " is on transect '" + label +
                           "' here but on '" + on->second + "' in another row");
    }
    json row = {static_cast<std::int64_t>(rows.size() + 1), t->second, d, obj, who, seen,
                size >= 0 ? s.Whole(r, size, 1, INT32_MAX) : 1};
    for (std::size_t k = 0; k < covariates.size(); ++k) {
      const std::string& cell = r.cells[covariates[k]];
      if (cell.empty()) row.push_back(nullptr);
      else if (numeric[k]) row.push_back(host::ParseNumber(cell));
      else row.push_back(cell);
    }
    rows.push_back(std::move(row));
  }
  if (objects.empty()) Fail(flat.sightings, "the table has no sightings");
  for (const auto& [obj, lines] : objects) {
    if (two && (lines[1] == 0 || lines[2] == 0)) {
      Fail(flat.sightings + ":" + std::to_string(lines[1] + lines[2]),
           "object " + std::to_string(obj) + " has no row for observer " +
               (lines[1] == 0 ? "1" : "2") + " (two observers give one row each per object)");
    }
    if (lines[0] == 0) {
      Fail(flat.sightings + ":" + std::to_string(lines[1]),
           "object " + std::to_string(obj) + " was detected by neither observer");
    }
  }

  json observation_fields = {Field("ID", "id"),
                             Field("ParentID", "link"),
                             Field("distance", "decimal", flat.distance_unit),
                             Field("object", "integer"),
                             Field("observer", "integer"),
                             Field("detected", "integer"),
                             Field("size", "integer")};
  for (std::size_t k = 0; k < covariates.size(); ++k)
    observation_fields.push_back(Field(s.header()[covariates[k]], numeric[k] ? "decimal" : "text"));

  const double width = flat.width.value_or(largest);
  const std::string width_text = ShortestNumberText(width);
  json d;
  d["layers"] = {
      {{"name", "Study area"},
       {"type", 1},
       {"fields", {Field("ID", "id"), Field("Label", "label"),
                   Field("Area", "decimal", flat.area_unit)}},
       {"rows", {{1, "Study area", tr.total_area}}}},
      {{"name", "Region"},
       {"type", 10},
       {"parent", "Study area"},
       {"fields", {Field("ID", "id"), Field("ParentID", "link"), Field("Label", "label"),
                   Field("Area", "decimal", flat.area_unit)}},
       {"rows", tr.regions}},
      {{"name", "Transect"},
       {"type", 20},
       {"parent", "Region"},
       {"fields", {Field("ID", "id"), Field("ParentID", "link"), Field("Label", "label"),
                   Field("Effort", "decimal", flat.effort_unit)}},
       {"rows", tr.transects}},
      {{"name", "Observation"},
       {"type", 30},
       {"parent", "Transect"},
       {"fields", observation_fields},
       {"rows", rows}}};
  d["surveys"] = {{{"id", 1},
                   {"name", "Survey"},
                   {"definition", std::string("Type Line; Distance Perp; Object Cluster; "
                                              "Configuration ") +
                                      (two ? "d" : "s") +
                                      "; PDist /Fld=distance; CSize /Fld=size; ObjID /Fld=object;"
                                      " Obs /Fld=observer; Detected /Fld=detected; Area "
                                      "/Fld=Area; Effort /Fld=Effort;"}}};
  d["data_filters"] = {{{"id", 1},
                        {"name", "Truncate at " + width_text},
                        {"definition", "Distance /Width=" + width_text + ";"}}};
  d["model_definitions"] = json::array();
  d["analyses"] = json::array();
  const std::vector<std::string> methods =
      two ? std::vector<std::string>{"io", "trial"} : std::vector<std::string>{"ds"};
  for (const std::string& method : methods) {
    for (const char* key : {"hn", "hr"}) {
      const int id = static_cast<int>(d["analyses"].size()) + 1;
      const std::string name = method + ", " + key + ", by region";
      d["model_definitions"].push_back(
          {{"id", id},
           {"name", name},
           {"definition",
            "Method " + method + "; DSModel /Method=cds /Key=" + key + " /Formula=1; " +
                (two ? "MRModel /Method=glm /Link=logit /Formula=distance; " : "") +
                "Control /Showit=0; Diagnostics /Plot=T /GOF=T; Detection T; Density T "
                "/VarFlag=1 /PrintOptions=1; Stratification Stratify /LayerType=10;"}});
      d["analyses"].push_back({{"id", id},
                               {"name", name},
                               {"survey", 1},
                               {"data_filter", 1},
                               {"model_definition", id}});
    }
  }
  FlatDescription out{d, ""};
  const std::size_t empty = tr.ids.size() - seen_transects.size();
  out.summary = std::to_string(tr.regions.size()) + " regions, " +
                std::to_string(tr.ids.size()) + " transects (" + std::to_string(empty) +
                " without sightings), " + std::to_string(objects.size()) + " objects in " +
                std::to_string(rows.size()) + " sightings" +
                (two ? " by two observers" : " by one observer") + "; width " + width_text +
                (flat.width ? "" : " (the largest distance)") + "; " +
                std::to_string(d["analyses"].size()) + " candidate analyses (" +
                Join(std::vector<std::string>(methods)) +
                " with half-normal and hazard-rate keys, stratified by region)";
  return out;
}

}  // namespace pramble::sqlhost
