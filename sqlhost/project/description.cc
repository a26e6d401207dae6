#include "sqlhost/project/description.h"

#include <fcntl.h>  // AT_FDCWD
#include <sqlite3.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <system_error>

#include "sqlhost/dao/sqlite_quote.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/project/statement.h"
#include "sqlhost/util/units.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using projectdb::ExecSql;

// A problem found in the description. `where` is a JSON path, which is
// shown after the description's file name, or a place of its own ("x.csv:4").
struct Problem {
  std::string where;
  std::string what;
  bool json_path = true;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw Problem{where, what, true};
}
[[noreturn]] void FailAt(const std::string& place, const std::string& what) {
  throw Problem{place, what, false};
}

std::string Mem(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}
std::string Idx(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

std::string Kind(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "true or false";
    case json::value_t::string:
      return "a text";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

std::string Join(const std::vector<std::string>& items, const std::string& sep) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? sep : "") + items[i];
  return out;
}

void CheckMembers(const json& obj, const std::string& path, const std::vector<std::string>& allowed,
                  const std::string& what) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool known = false;
    for (const auto& a : allowed) known = known || it.key() == a;
    if (!known) {
      Fail(Mem(path, it.key()), "unknown member (" + what + " has " + Join(allowed, ", ") + ")");
    }
  }
}

const json& Required(const json& obj, const std::string& path, const std::string& key) {
  auto it = obj.find(key);
  if (it == obj.end()) Fail(path, "the member '" + key + "' is missing");
  return *it;
}

const json* Optional(const json& obj, const std::string& key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

void ExpectObject(const json& j, const std::string& path) {
  if (!j.is_object()) Fail(path, "must be an object, not " + Kind(j));
}
void ExpectArray(const json& j, const std::string& path) {
  if (!j.is_array()) Fail(path, "must be an array, not " + Kind(j));
}

std::string GetText(const json& j, const std::string& path) {
  if (!j.is_string()) Fail(path, "must be a text, not " + Kind(j));
  return j.get<std::string>();
}

// A JSON number that is a whole number (1 and 1.0 alike).
std::optional<std::int64_t> WholeNumber(const json& j) {
  if (j.is_number_integer()) {
    if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
      return std::nullopt;
    return j.get<std::int64_t>();
  }
  if (j.is_number_float()) {
    const double d = j.get<double>();
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) <= 9007199254740992.0)
      return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

std::int64_t GetInteger(const json& j, const std::string& path) {
  auto v = WholeNumber(j);
  if (!v) Fail(path, "must be a whole number, not " + (j.is_number() ? j.dump() : Kind(j)));
  return *v;
}

std::int32_t GetId(const json& j, const std::string& path) {
  const std::int64_t v = GetInteger(j, path);
  if (v < INT32_MIN || v > INT32_MAX) {
    Fail(path, "must lie between " + std::to_string(INT32_MIN) + " and " +
                   std::to_string(INT32_MAX) + ", not " + std::to_string(v));
  }
  return static_cast<std::int32_t>(v);
}

// Names of people's things: not empty, no blanks at either end, no control
// characters (they would break the tab-separated output of `status`). Names
// that go into SQL (layers, fields) must not hold '[' or ']' either.
void CheckName(const std::string& name, const std::string& path, bool sql_name) {
  if (name.empty()) Fail(path, "must not be empty");
  if (name.front() == ' ' || name.back() == ' ') {
    Fail(path, "'" + name + "' must not start or end with a blank");
  }
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) Fail(path, "'" + name + "' holds a control character");
    if (sql_name && (c == '[' || c == ']')) {
      Fail(path, "'" + name + "' holds '" + std::string(1, c) +
                     "'; layer and field names must not hold '[' or ']'");
    }
  }
}

// ---------------------------------------------------------------------------
struct FieldSpec {
  std::string name, kind, units;
  std::int32_t type = 0;
};

struct LayerSpec {
  std::string name;
  std::int32_t type = 0;
  std::string parent;
  int parent_index = -1;
  std::vector<FieldSpec> fields;
  std::vector<std::vector<host::Value>> rows;
  // Where each row came from, for messages: a JSON path or "file.csv:LINE".
  std::vector<std::string> row_places;
  bool rows_from_csv = false;
  std::string path;  // layers[i]
};

struct DefinitionSpec {
  std::int32_t id = 0;
  std::string name, definition;
};

struct AnalysisSpec {
  std::int32_t id = 0;
  std::string name;
  std::int32_t survey = 0, data_filter = 0, model_definition = 0;
};

struct SettingSpec {
  std::string section, key;
  host::Value value;
};

struct Description {
  std::vector<SettingSpec> settings;
  std::vector<LayerSpec> layers;
  std::vector<DefinitionSpec> surveys, data_filters, model_definitions;
  std::vector<AnalysisSpec> analyses;
};

std::string UnitList() {
  return "length units: " + Join(LengthUnitNames(), ", ") +
         "; area units: " + Join(AreaUnitNames(), ", ");
}

// ---------------------------------------------------------------------------
// Cell values.

bool IsIntegerKind(std::int32_t t) {
  return t == host::kFieldID || t == host::kFieldLink || t == host::kFieldInteger;
}

// The value of a JSON cell for field `f`; `where` is the cell's JSON path.
host::Value CellFromJson(const json& v, const FieldSpec& f, const std::string& where) {
  const std::string field = "field '" + f.name + "': ";
  if (v.is_null()) {
    if (f.type == host::kFieldID) Fail(where, field + "the ID must not be missing (null)");
    if (f.type == host::kFieldLink) Fail(where, field + "the link must not be missing (null)");
    return host::Value{};
  }
  if (IsIntegerKind(f.type)) {
    auto n = WholeNumber(v);
    if (!n) {
      Fail(where, field + "must be a whole number, not " + (v.is_number() ? v.dump() : Kind(v)));
    }
    return host::Value{*n};
  }
  switch (f.type) {
    case host::kFieldDecimal:
      if (!v.is_number()) Fail(where, field + "must be a number, not " + Kind(v));
      if (v.is_number_integer() && !v.is_number_unsigned()) {
        return host::Value{static_cast<double>(v.get<std::int64_t>())};
      }
      return host::Value{v.get<double>()};
    case host::kFieldText:
    case host::kFieldLabel:
      if (!v.is_string()) Fail(where, field + "must be a text (in double quotes), not " + Kind(v));
      return host::Value{v.get<std::string>()};
    default:  // shape, hidden: any single value
      if (v.is_string()) return host::Value{v.get<std::string>()};
      if (v.is_boolean()) return host::Value{static_cast<std::int64_t>(v.get<bool>() ? 1 : 0)};
      if (auto n = WholeNumber(v); n && v.is_number_integer()) return host::Value{*n};
      if (v.is_number()) return host::Value{v.get<double>()};
      Fail(where, field + "must be a single value, not " + Kind(v));
  }
}

// The value of a CSV cell for field `f`; `place` is "file.csv:LINE".
host::Value CellFromText(const std::string& cell, const FieldSpec& f, const std::string& place) {
  const std::string field = "field '" + f.name + "': ";
  if (cell.empty()) {
    if (f.type == host::kFieldID) FailAt(place, field + "the ID is missing (an empty cell)");
    if (f.type == host::kFieldLink) FailAt(place, field + "the link is missing (an empty cell)");
    return host::Value{};
  }
  if (IsIntegerKind(f.type)) {
    const std::string t = host::Trim(cell, " \t");
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec == std::errc() && p == t.data() + t.size() && !t.empty()) return host::Value{v};
    if (host::IsNumeric(t)) {
      const double d = host::ParseNumber(t);
      if (d == std::floor(d) && std::fabs(d) <= 9007199254740992.0) {
        return host::Value{static_cast<std::int64_t>(d)};
      }
    }
    FailAt(place, field + "'" + cell + "' is not a whole number");
  }
  if (f.type == host::kFieldDecimal) {
    if (!host::IsNumeric(cell)) FailAt(place, field + "'" + cell + "' is not a number");
    try {
      return host::Value{host::ParseNumber(cell)};
    } catch (const host::HostError&) {
      FailAt(place, field + "'" + cell + "' is out of range");
    }
  }
  return host::Value{cell};
}

// ---------------------------------------------------------------------------
// Parsing and checking.

void ReadSettings(const json& j, Description& d) {
  const std::string path = "settings";
  ExpectObject(j, path);
  for (auto s = j.begin(); s != j.end(); ++s) {
    const std::string spath = Mem(path, s.key());
    if (s.key().empty()) Fail(spath, "a section name must not be empty");
    ExpectObject(*s, spath);
    for (auto k = s->begin(); k != s->end(); ++k) {
      const std::string kpath = Mem(spath, k.key());
      if (k.key().empty()) Fail(kpath, "a key must not be empty");
      const json& v = *k;
      host::Value value;
      if (v.is_boolean()) {
        value = v.get<bool>();
      } else if (auto n = WholeNumber(v); n && v.is_number_integer()) {
        value = *n;
      } else if (v.is_number()) {
        value = v.get<double>();
      } else if (v.is_string()) {
        value = v.get<std::string>();
      } else {
        Fail(kpath, "a setting must be true, false, a number or a text, not " + Kind(v));
      }
      d.settings.push_back(SettingSpec{s.key(), k.key(), value});
    }
  }
}

FieldSpec ReadField(const json& j, const std::string& path) {
  ExpectObject(j, path);
  CheckMembers(j, path, {"name", "kind", "units"}, "a field");
  FieldSpec f;
  f.name = GetText(Required(j, path, "name"), Mem(path, "name"));
  CheckName(f.name, Mem(path, "name"), true);
  f.kind = GetText(Required(j, path, "kind"), Mem(path, "kind"));
  f.type = FieldTypeOfKind(f.kind);
  if (f.type == 0) {
    Fail(Mem(path, "kind"), "unknown field kind '" + f.kind +
                                "' (kinds: id, link, label, shape, hidden, integer, decimal, "
                                "text)");
  }
  for (char& c : f.kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (const json* u = Optional(j, "units")) {
    f.units = GetText(*u, Mem(path, "units"));
    if (f.type != host::kFieldInteger && f.type != host::kFieldDecimal) {
      Fail(Mem(path, "units"),
           "units belong on integer or decimal fields, not on a '" + f.kind + "' field");
    }
    if (!MetresPerLengthUnit(f.units) && !SquareMetresPerAreaUnit(f.units)) {
      Fail(Mem(path, "units"), "unknown unit '" + f.units + "' (" + UnitList() + ")");
    }
  }
  return f;
}

void ReadInlineRows(const json& rows, LayerSpec& layer) {
  const std::string path = Mem(layer.path, "rows");
  ExpectArray(rows, path);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::string rpath = Idx(path, r);
    const json& row = rows[r];
    if (!row.is_array()) {
      Fail(rpath, "a row must be an array of values in field order, not " + Kind(row));
    }
    if (row.size() != layer.fields.size()) {
      Fail(rpath, std::to_string(row.size()) + " values for " +
                      std::to_string(layer.fields.size()) + " fields");
    }
    std::vector<host::Value> values;
    for (std::size_t c = 0; c < row.size(); ++c) {
      values.push_back(CellFromJson(row[c], layer.fields[c], Idx(rpath, c)));
    }
    layer.rows.push_back(std::move(values));
    layer.row_places.push_back(rpath);
  }
}

void ReadCsvRows(const std::string& csv, const std::string& base_dir, LayerSpec& layer) {
  fs::path file = fs::path(csv);
  if (file.is_relative() && !base_dir.empty()) file = fs::path(base_dir) / file;
  const std::string display = file.lexically_normal().string();
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    FailAt(display, "the CSV file of layer '" + layer.name + "' (" + Mem(layer.path, "csv") +
                        ") does not exist");
  }
  if (!fs::is_regular_file(file, ec)) {
    FailAt(display, "the CSV file of layer '" + layer.name + "' is not a file");
  }
  std::vector<CsvRecord> records;
  try {
    records = ReadCsvFile(file.string(), display);
  } catch (const DescriptionError& e) {
    throw Problem{"", e.what(), false};
  }
  if (records.empty()) {
    FailAt(display,
           "the file is empty; the first row must name the fields of layer '" + layer.name + "'");
  }
  // Header: every field of the layer once, in any order.
  const CsvRecord& header = records.front();
  const std::string hplace = display + ":" + std::to_string(header.line);
  std::vector<int> column_of_field(layer.fields.size(), -1);
  std::vector<std::string> field_names;
  for (const auto& f : layer.fields) field_names.push_back(f.name);
  for (std::size_t c = 0; c < header.cells.size(); ++c) {
    const std::string name = host::Trim(header.cells[c], " \t");
    int found = -1;
    for (std::size_t k = 0; k < layer.fields.size(); ++k) {
      if (host::EqualsNoCase(layer.fields[k].name, name)) found = static_cast<int>(k);
    }
    if (found < 0) {
      FailAt(hplace, "unknown field '" + name + "' in the header (layer '" + layer.name +
                         "' has the fields " + Join(field_names, ", ") + ")");
    }
    if (column_of_field[found] >= 0) {
      FailAt(hplace, "field '" + layer.fields[found].name + "' appears twice in the header");
    }
    column_of_field[found] = static_cast<int>(c);
  }
  for (std::size_t k = 0; k < layer.fields.size(); ++k) {
    if (column_of_field[k] < 0) {
      FailAt(hplace, "field '" + layer.fields[k].name + "' of layer '" + layer.name +
                         "' is missing from the header");
    }
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& rec = records[r];
    const std::string place = display + ":" + std::to_string(rec.line);
    if (rec.cells.size() != header.cells.size()) {
      FailAt(place, std::to_string(rec.cells.size()) + " cells, but the header has " +
                        std::to_string(header.cells.size()));
    }
    std::vector<host::Value> values;
    for (std::size_t k = 0; k < layer.fields.size(); ++k) {
      values.push_back(CellFromText(rec.cells[column_of_field[k]], layer.fields[k], place));
    }
    layer.rows.push_back(std::move(values));
    layer.row_places.push_back(place);
  }
  layer.rows_from_csv = true;
}

// The row of `layer` at `place`, as messages name it.
[[noreturn]] void FailRow(const LayerSpec& layer, std::size_t row, const std::string& what) {
  throw Problem{layer.row_places[row], what, !layer.rows_from_csv};
}

void ReadLayers(const json& j, const std::string& base_dir, Description& d) {
  const std::string path = "layers";
  ExpectArray(j, path);
  if (j.empty()) Fail(path, "a project needs at least a global and an observation layer");
  for (std::size_t i = 0; i < j.size(); ++i) {
    LayerSpec layer;
    layer.path = Idx(path, i);
    const json& lj = j[i];
    ExpectObject(lj, layer.path);
    CheckMembers(lj, layer.path, {"name", "type", "parent", "fields", "rows", "csv"}, "a layer");
    const std::string npath = Mem(layer.path, "name");
    layer.name = GetText(Required(lj, layer.path, "name"), npath);
    CheckName(layer.name, npath, true);
    if (IsReservedLayerName(layer.name)) {
      Fail(npath, "the layer name '" + layer.name +
                      "' is reserved (names that start with 'tq' and digits and '_', with "
                      "'sqlite_' or with 'pramble_' belong to the databases)");
    }
    for (std::size_t k = 0; k < d.layers.size(); ++k) {
      if (host::EqualsNoCase(d.layers[k].name, layer.name)) {
        Fail(npath, "a second layer named '" + layer.name +
                        "' (names compare without regard "
                        "to case; the first is " +
                        d.layers[k].path + ")");
      }
    }
    const std::string tpath = Mem(layer.path, "type");
    const std::int64_t type = GetInteger(Required(lj, layer.path, "type"), tpath);
    if (!IsLayerTypeCode(type)) {
      Fail(tpath, "unknown layer type " + std::to_string(type) +
                      " (1 global, 10 to 15 stratum, 20 to 25 sample, 30 observation)");
    }
    layer.type = static_cast<std::int32_t>(type);

    // Place in the hierarchy.
    const json* parent = Optional(lj, "parent");
    const std::string ppath = Mem(layer.path, "parent");
    if (layer.type == host::kLayerGlobal) {
      if (parent) Fail(ppath, "the global layer (type 1) is the top layer and has no parent");
      if (i != 0) {
        Fail(tpath,
             "a second global layer (type 1); the project's one global layer must be "
             "the first layer");
      }
    } else {
      if (i == 0) Fail(tpath, "the first layer must be the global layer (type 1)");
      if (!parent)
        Fail(layer.path,
             "the member 'parent' is missing (every layer but the "
             "global one names its parent)");
      layer.parent = GetText(*parent, ppath);
      for (std::size_t k = 0; k < d.layers.size(); ++k) {
        if (host::EqualsNoCase(d.layers[k].name, layer.parent))
          layer.parent_index = static_cast<int>(k);
      }
      if (layer.parent_index < 0) {
        if (host::EqualsNoCase(layer.parent, layer.name)) {
          Fail(ppath, "a layer cannot be its own parent");
        }
        bool later = false;
        for (std::size_t k = i + 1; k < j.size(); ++k) {
          const json& other = j[k];
          if (other.is_object() && other.contains("name") && other["name"].is_string() &&
              host::EqualsNoCase(other["name"].get<std::string>(), layer.parent))
            later = true;
        }
        if (later) {
          Fail(ppath, "the parent '" + layer.parent +
                          "' comes after this layer; parents must come before their children");
        }
        Fail(ppath, "unknown parent layer '" + layer.parent + "'");
      }
      const LayerSpec& p = d.layers[layer.parent_index];
      if (p.type >= layer.type) {
        Fail(tpath, "a layer of type " + std::to_string(layer.type) + " cannot lie below '" +
                        p.name + "' of type " + std::to_string(p.type) +
                        " (types grow from the global layer, 1, down to the observation "
                        "layer, 30)");
      }
    }
    if (layer.type == host::kLayerObservation) {
      for (const auto& other : d.layers) {
        if (other.type == host::kLayerObservation) {
          Fail(tpath, "a second observation layer (type 30); the first is '" + other.name + "'");
        }
      }
    }

    // Fields.
    const std::string fpath = Mem(layer.path, "fields");
    const json& fj = Required(lj, layer.path, "fields");
    ExpectArray(fj, fpath);
    int ids = -1, links = -1, labels = -1;
    for (std::size_t k = 0; k < fj.size(); ++k) {
      const std::string fkpath = Idx(fpath, k);
      FieldSpec f = ReadField(fj[k], fkpath);
      for (const auto& other : layer.fields) {
        if (host::EqualsNoCase(other.name, f.name)) {
          Fail(Mem(fkpath, "name"), "a second field named '" + f.name + "' in layer '" +
                                        layer.name + "' (names compare without regard to case)");
        }
      }
      auto once = [&](int& seen, const char* kind) {
        if (seen >= 0) {
          Fail(Mem(fkpath, "kind"), std::string("a second '") + kind + "' field in layer '" +
                                        layer.name + "' (the first is '" + layer.fields[seen].name +
                                        "')");
        }
        seen = static_cast<int>(layer.fields.size());
      };
      if (f.type == host::kFieldID) once(ids, "id");
      if (f.type == host::kFieldLink) {
        if (layer.type == host::kLayerGlobal) {
          Fail(Mem(fkpath, "kind"), "the global layer has no parent, so it has no 'link' field");
        }
        once(links, "link");
      }
      if (f.type == host::kFieldLabel) once(labels, "label");
      layer.fields.push_back(std::move(f));
    }
    if (ids < 0) Fail(fpath, "layer '" + layer.name + "' has no 'id' field (each layer has one)");
    if (links < 0 && layer.type != host::kLayerGlobal) {
      Fail(fpath,
           "layer '" + layer.name + "' has no 'link' field (it holds the ID of the parent record)");
    }

    // Rows.
    const json* rows = Optional(lj, "rows");
    const json* csv = Optional(lj, "csv");
    if (rows && csv) Fail(layer.path, "give either 'rows' or 'csv', not both");
    if (rows) ReadInlineRows(*rows, layer);
    if (csv) ReadCsvRows(GetText(*csv, Mem(layer.path, "csv")), base_dir, layer);
    d.layers.push_back(std::move(layer));
  }
  bool has_observation = false;
  for (const auto& l : d.layers)
    has_observation = has_observation || l.type == host::kLayerObservation;
  if (!has_observation) Fail(path, "there is no observation layer (type 30)");
}

// Unique record IDs in every layer; every link names a record of the parent.
void CheckRecords(Description& d) {
  std::vector<std::map<std::int64_t, std::size_t>> ids(d.layers.size());
  for (std::size_t i = 0; i < d.layers.size(); ++i) {
    const LayerSpec& layer = d.layers[i];
    int id_col = -1, link_col = -1;
    for (std::size_t c = 0; c < layer.fields.size(); ++c) {
      if (layer.fields[c].type == host::kFieldID) id_col = static_cast<int>(c);
      if (layer.fields[c].type == host::kFieldLink) link_col = static_cast<int>(c);
    }
    for (std::size_t r = 0; r < layer.rows.size(); ++r) {
      const std::int64_t id = std::get<std::int64_t>(layer.rows[r][id_col]);
      auto [it, fresh] = ids[i].emplace(id, r);
      if (!fresh) {
        FailRow(layer, r,
                "field '" + layer.fields[id_col].name + "': duplicate ID " + std::to_string(id) +
                    " in layer '" + layer.name + "' (first at " + layer.row_places[it->second] +
                    ")");
      }
      if (link_col >= 0) {
        const std::int64_t link = std::get<std::int64_t>(layer.rows[r][link_col]);
        if (!ids[layer.parent_index].count(link)) {
          FailRow(layer, r,
                  "field '" + layer.fields[link_col].name + "': " + std::to_string(link) +
                      " names no record of the parent layer '" + layer.parent + "'");
        }
      }
    }
  }
}

void ReadDefinitions(const json& top, const std::string& key, const std::string& what,
                     std::vector<DefinitionSpec>& out) {
  const json* j = Optional(top, key);
  if (!j) return;
  ExpectArray(*j, key);
  for (std::size_t i = 0; i < j->size(); ++i) {
    const std::string path = Idx(key, i);
    const json& dj = (*j)[i];
    ExpectObject(dj, path);
    CheckMembers(dj, path, {"id", "name", "definition"}, "a " + what);
    DefinitionSpec def;
    def.id = GetId(Required(dj, path, "id"), Mem(path, "id"));
    for (std::size_t k = 0; k < out.size(); ++k) {
      if (out[k].id == def.id) {
        Fail(Mem(path, "id"), "a second " + what + " with id " + std::to_string(def.id) +
                                  " (the first is " + Idx(key, k) + ")");
      }
    }
    def.name = GetText(Required(dj, path, "name"), Mem(path, "name"));
    CheckName(def.name, Mem(path, "name"), false);
    def.definition = GetText(Required(dj, path, "definition"), Mem(path, "definition"));
    if (auto error = CheckDefinition(def.definition)) {
      Fail(path + " (id " + std::to_string(def.id) + ").definition",
           "the definition cannot be read: " + error->ToString());
    }
    out.push_back(std::move(def));
  }
}

void ReadAnalyses(const json& top, Description& d) {
  const json* j = Optional(top, "analyses");
  if (!j) return;
  ExpectArray(*j, "analyses");
  for (std::size_t i = 0; i < j->size(); ++i) {
    const std::string path = Idx("analyses", i);
    const json& aj = (*j)[i];
    ExpectObject(aj, path);
    CheckMembers(aj, path, {"id", "name", "survey", "data_filter", "model_definition"},
                 "an analysis");
    AnalysisSpec a;
    a.id = GetId(Required(aj, path, "id"), Mem(path, "id"));
    for (std::size_t k = 0; k < d.analyses.size(); ++k) {
      if (d.analyses[k].id == a.id) {
        Fail(Mem(path, "id"), "a second analysis with id " + std::to_string(a.id) +
                                  " (the first is " + Idx("analyses", k) + ")");
      }
    }
    a.name = GetText(Required(aj, path, "name"), Mem(path, "name"));
    CheckName(a.name, Mem(path, "name"), false);
    const std::string named = path + " (id " + std::to_string(a.id) + ")";
    auto ref = [&](const char* key, const char* what, const std::vector<DefinitionSpec>& defs) {
      const std::int32_t id = GetId(Required(aj, path, key), Mem(path, key));
      for (const auto& def : defs) {
        if (def.id == id) return id;
      }
      Fail(Mem(named, key), std::string("there is no ") + what + " with id " + std::to_string(id));
    };
    a.survey = ref("survey", "survey", d.surveys);
    a.data_filter = ref("data_filter", "data filter", d.data_filters);
    a.model_definition = ref("model_definition", "model definition", d.model_definitions);
    d.analyses.push_back(std::move(a));
  }
}

Description ReadDescription(const json& top, const std::string& base_dir) {
  Description d;
  ExpectObject(top, "");
  CheckMembers(top, "",
               {"settings", "layers", "surveys", "data_filters", "model_definitions", "analyses"},
               "a project description");
  if (const json* s = Optional(top, "settings")) ReadSettings(*s, d);
  ReadLayers(Required(top, "", "layers"), base_dir, d);
  CheckRecords(d);
  ReadDefinitions(top, "surveys", "survey", d.surveys);
  ReadDefinitions(top, "data_filters", "data filter", d.data_filters);
  ReadDefinitions(top, "model_definitions", "model definition", d.model_definitions);
  ReadAnalyses(top, d);
  return d;
}

// ---------------------------------------------------------------------------
// Writing.

class NewDatabase {
 public:
  explicit NewDatabase(const std::string& path) {
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw host::HostError(host::kErrReadOnly,
                            "cannot create the database '" + path + "': " + message);
    }
    try {
      // WAL lets one process write while others read; it stays set in the file.
      ExecSql(db_, "PRAGMA journal_mode = WAL");
      ExecSql(db_, "BEGIN");
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~NewDatabase() { sqlite3_close(db_); }
  NewDatabase(const NewDatabase&) = delete;
  NewDatabase& operator=(const NewDatabase&) = delete;
  sqlite3* get() const { return db_; }
  void Commit() { ExecSql(db_, "COMMIT"); }

 private:
  sqlite3* db_ = nullptr;
};

const char* SqlType(std::int32_t field_type) {
  switch (field_type) {
    case host::kFieldID:
    case host::kFieldLink:
    case host::kFieldInteger:
      return " INTEGER";
    case host::kFieldDecimal:
      return " REAL";
    case host::kFieldText:
    case host::kFieldLabel:
      return " TEXT";
    default:
      return "";  // shape, hidden: any value as given
  }
}

void WriteDefinitions(sqlite3* db, const std::string& table,
                      const std::vector<DefinitionSpec>& defs) {
  projectdb::Statement s(db,
                         "INSERT INTO " + table + " (id, name, definition) VALUES (?1, ?2, ?3)");
  for (const auto& def : defs) {
    s.Reset();
    s.Bind(1, host::Value{static_cast<std::int64_t>(def.id)})
        .Bind(2, host::Value{def.name})
        .Bind(3, host::Value{def.definition})
        .Run();
  }
}

void WriteProjectDatabase(const std::string& path, const Description& d) {
  NewDatabase c(path);
  sqlite3* db = c.get();
  CreateProjectSchema(db);
  {
    projectdb::Statement s(
        db, "INSERT INTO settings (section, key, kind, value) VALUES (?1, ?2, ?3, ?4)");
    for (const auto& setting : d.settings) {
      s.Reset();
      s.Bind(1, host::Value{setting.section})
          .Bind(2, host::Value{setting.key})
          .Bind(3, host::Value{std::string(SettingKind(setting.value))})
          .Bind(4, setting.value)
          .Run();
    }
  }
  WriteDefinitions(db, "surveys", d.surveys);
  WriteDefinitions(db, "data_filters", d.data_filters);
  WriteDefinitions(db, "model_definitions", d.model_definitions);
  {
    projectdb::Statement s(
        db,
        "INSERT INTO analyses (id, name, survey_id, data_filter_id, model_definition_id)"
        " VALUES (?1, ?2, ?3, ?4, ?5)");
    for (const auto& a : d.analyses) {
      s.Reset();
      s.Bind(1, host::Value{static_cast<std::int64_t>(a.id)})
          .Bind(2, host::Value{a.name})
          .Bind(3, host::Value{static_cast<std::int64_t>(a.survey)})
          .Bind(4, host::Value{static_cast<std::int64_t>(a.data_filter)})
          .Bind(5, host::Value{static_cast<std::int64_t>(a.model_definition)})
          .Run();
    }
  }
  {
    projectdb::Statement ls(db,
                            "INSERT INTO layers (ord, name, layer_type, parent, table_name) "
                            "VALUES (?1, ?2, ?3, ?4, ?5)");
    projectdb::Statement fs(
        db,
        "INSERT INTO layer_fields (layer_ord, ord, name, kind, field_type, units) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (std::size_t i = 0; i < d.layers.size(); ++i) {
      const LayerSpec& l = d.layers[i];
      ls.Reset();
      ls.Bind(1, host::Value{static_cast<std::int64_t>(i)})
          .Bind(2, host::Value{l.name})
          .Bind(3, host::Value{static_cast<std::int64_t>(l.type)})
          .Bind(4, l.parent_index < 0 ? host::Value{} : host::Value{d.layers[l.parent_index].name})
          .Bind(5, host::Value{LayerTableName(l.name)})
          .Run();
      for (std::size_t k = 0; k < l.fields.size(); ++k) {
        const FieldSpec& f = l.fields[k];
        fs.Reset();
        fs.Bind(1, host::Value{static_cast<std::int64_t>(i)})
            .Bind(2, host::Value{static_cast<std::int64_t>(k)})
            .Bind(3, host::Value{f.name})
            .Bind(4, host::Value{f.kind})
            .Bind(5, host::Value{static_cast<std::int64_t>(f.type)})
            .Bind(6, host::Value{f.units})
            .Run();
      }
    }
  }
  c.Commit();
}

void WriteDataDatabase(const std::string& path, const Description& d) {
  NewDatabase c(path);
  sqlite3* db = c.get();
  for (const auto& l : d.layers) {
    const std::string table = QuoteIdentifier(LayerTableName(l.name));
    std::string create = "CREATE TABLE " + table + " (";
    std::string insert = "INSERT INTO " + table + " VALUES (";
    std::string link;
    for (std::size_t k = 0; k < l.fields.size(); ++k) {
      const FieldSpec& f = l.fields[k];
      create += (k ? ", " : "") + QuoteIdentifier(f.name) + SqlType(f.type);
      if (f.type == host::kFieldID) create += " PRIMARY KEY";
      if (f.type == host::kFieldLink) link = f.name;
      insert += (k ? ", ?" : "?") + std::to_string(k + 1);
    }
    ExecSql(db, create + ")");
    if (!link.empty()) {
      // Index names share the table names' space; "pramble_" is reserved.
      ExecSql(db, "CREATE INDEX " + QuoteIdentifier("pramble_link_" + l.name) + " ON " + table +
                      " (" + QuoteIdentifier(link) + ")");
    }
    projectdb::Statement s(db, insert + ")");
    for (const auto& row : l.rows) {
      s.Reset();
      for (std::size_t k = 0; k < row.size(); ++k) s.Bind(static_cast<int>(k + 1), row[k]);
      s.Run();
    }
  }
  c.Commit();
}

// Removes a half-built folder unless released.
class FolderGuard {
 public:
  explicit FolderGuard(std::string path) : path_(std::move(path)) {}
  ~FolderGuard() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

std::string StripTrailingSlashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

void CheckTarget(const std::string& dir) {
  if (dir.empty()) throw ProjectError(ProjectError::Kind::kCannotWrite, "no project folder given");
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir, ec))) {
    throw ProjectError(ProjectError::Kind::kExists, "cannot create project folder '" + dir +
                                                        "': it exists already (give a new folder)");
  }
  fs::path parent = fs::path(dir).parent_path();
  if (parent.empty()) parent = ".";
  if (!fs::is_directory(parent, ec)) {
    throw ProjectError(ProjectError::Kind::kCannotWrite, "cannot create project folder '" + dir +
                                                             "': the folder '" + parent.string() +
                                                             "' does not exist");
  }
}

void Build(const std::string& dir_in, const Description& d) {
  const std::string dir = StripTrailingSlashes(dir_in);
  fs::path parent = fs::path(dir).parent_path();
  if (parent.empty()) parent = ".";
  // A hidden sibling folder, made with the permissions an ordinary folder
  // gets (mkdtemp's would be private to the user).
  std::string pattern;
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    pattern = (parent / ("." + fs::path(dir).filename().string() + ".creating-" + suffix)).string();
    if (mkdir(pattern.c_str(), 0777) == 0) break;
    if (errno != EEXIST || attempt == 100) {
      throw ProjectError(ProjectError::Kind::kCannotWrite,
                         "cannot create project folder '" + dir + "': cannot make a folder in '" +
                             parent.string() + "': " + std::strerror(errno));
    }
  }
  FolderGuard guard(pattern);
  try {
    WriteProjectDatabase((fs::path(pattern) / kProjectFileName).string(), d);
    WriteDataDatabase((fs::path(pattern) / kDataFileName).string(), d);
  } catch (const host::HostError& e) {
    throw ProjectError(ProjectError::Kind::kCannotWrite,
                       "cannot create project folder '" + dir + "': " + e.what());
  }
  if (renameat2(AT_FDCWD, pattern.c_str(), AT_FDCWD, dir.c_str(), RENAME_NOREPLACE) != 0) {
    const int err = errno;
    throw ProjectError(
        err == EEXIST ? ProjectError::Kind::kExists : ProjectError::Kind::kCannotWrite,
        "cannot create project folder '" + dir + "': " + std::strerror(err));
  }
  guard.Release();
}

// "FILE: PATH: WHAT", "PATH: WHAT" or "PLACE: WHAT".
std::string Message(const Problem& p, const std::string& file) {
  std::string where = p.where;
  if (p.json_path && !file.empty()) where = where.empty() ? file : file + ": " + where;
  return where.empty() ? p.what : where + ": " + p.what;
}

void CreateFrom(const std::string& dir, const json& description, const std::string& base_dir,
                const std::string& file) {
  CheckTarget(StripTrailingSlashes(dir));
  Description d;
  try {
    d = ReadDescription(description, base_dir);
  } catch (const Problem& p) {
    throw DescriptionError(Message(p, file));
  }
  Build(dir, d);
}

// nlohmann's DOM parser that notes where the parse stopped: its out_of_range
// error for a number too large for a double carries no position.
class PlacingJsonParser : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  PlacingJsonParser(json& root, std::size_t& stopped_at)
      : json_sax_dom_parser(root, /*allow_exceptions=*/true), stopped_at_(stopped_at) {}
  template <class Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& e) {
    stopped_at_ = position;
    return json_sax_dom_parser::parse_error(position, token, e);
  }

 private:
  std::size_t& stopped_at_;
};

}  // namespace

void CreateProjectFromJson(const std::string& dir, const json& description,
                           const std::string& base_dir) {
  CreateFrom(dir, description, base_dir, "");
}

void CreateProject(const std::string& dir, const std::string& description_path) {
  std::error_code ec;
  if (!fs::exists(description_path, ec)) {
    throw DescriptionError(description_path + ": the project description does not exist");
  }
  std::ifstream in(description_path, std::ios::binary);
  std::ostringstream buf;
  if (in) buf << in.rdbuf();
  if (!in || !fs::is_regular_file(description_path, ec)) {
    throw DescriptionError(description_path + ": cannot read the project description: " +
                           std::strerror(errno ? errno : EISDIR));
  }
  const std::string text = buf.str();
  json description;
  std::size_t stopped_at = 0;
  try {
    PlacingJsonParser parser(description, stopped_at);
    json::sax_parse(text, &parser);
  } catch (const json::exception& e) {
    // The 1-based position of the last byte read: parse errors carry it, and
    // the parser notes it for the others (a number too large for a double).
    const auto* syntax = dynamic_cast<const json::parse_error*>(&e);
    const std::size_t byte = syntax != nullptr ? syntax->byte : stopped_at;
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    std::string detail = e.what();
    const auto colon = detail.find(": ", detail.find("column"));
    if (colon != std::string::npos) {
      detail = detail.substr(colon + 2);
    } else if (const auto bracket = detail.find("] "); detail.rfind("[json.", 0) == 0 &&
                                                       bracket != std::string::npos) {
      detail = detail.substr(bracket + 2);
    }
    throw DescriptionError(description_path + ":" + std::to_string(line) + ":" +
                           std::to_string(column) + ": JSON " +
                           (syntax != nullptr ? "syntax error: " : "error: ") + detail);
  }
  std::string base = fs::path(description_path).parent_path().string();
  CreateFrom(dir, description, base, description_path);
}

}  // namespace pramble::sqlhost
