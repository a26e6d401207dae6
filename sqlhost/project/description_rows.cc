// The rows of a layer, given inline or in a CSV file, and their cells read
// for the field types.
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "pramble/host/errors.h"
#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/description_reader.h"
#include "sqlhost/project/project_error.h"

namespace pramble::sqlhost::description {
namespace fs = std::filesystem;
namespace {

// Cell values.

bool IsIntegerKind(std::int32_t t) {
  return t == host::kFieldID || t == host::kFieldLink || t == host::kFieldInteger;
}

// The value of a JSON cell for field `f`; `where` is the cell's JSON path.
host::Value CellFromJson(const json& v, const FieldSpec& f, const std::string& where) {
  const std::string field = "field '" + f.name + "': ";
  if (v.is_null()) {
    if (f.type == host::kFieldID) FailAtPath(where, field + "the ID must not be missing (null)");
    if (f.type == host::kFieldLink)
      FailAtPath(where, field + "the link must not be missing (null)");
    return host::Value{};
  }
  if (IsIntegerKind(f.type)) {
    auto n = WholeNumber(v);
    if (!n) {
      FailAtPath(where, field + "must be a whole number, not " +
                            (v.is_number() ? v.dump() : JsonTypeName(v)));
    }
    return host::Value{*n};
  }
  switch (f.type) {
    case host::kFieldDecimal:
      if (!v.is_number()) FailAtPath(where, field + "must be a number, not " + JsonTypeName(v));
      if (v.is_number_integer() && !v.is_number_unsigned()) {
        return host::Value{static_cast<double>(v.get<std::int64_t>())};
      }
      return host::Value{v.get<double>()};
    case host::kFieldText:
    case host::kFieldLabel:
      if (!v.is_string())
        FailAtPath(where, field + "must be a text (in double quotes), not " + JsonTypeName(v));
      return host::Value{v.get<std::string>()};
    default:  // shape, hidden: any single value
      if (v.is_string()) return host::Value{v.get<std::string>()};
      if (v.is_boolean()) return host::Value{static_cast<std::int64_t>(v.get<bool>() ? 1 : 0)};
      if (auto n = WholeNumber(v); n && v.is_number_integer()) return host::Value{*n};
      if (v.is_number()) return host::Value{v.get<double>()};
      FailAtPath(where, field + "must be a single value, not " + JsonTypeName(v));
  }
}

// The value of a CSV cell for field `f`; `place` is "file.csv:LINE".
host::Value CellFromText(const std::string& cell, const FieldSpec& f, const std::string& place) {
  const std::string field = "field '" + f.name + "': ";
  if (cell.empty()) {
    if (f.type == host::kFieldID) FailAtPlace(place, field + "the ID is missing (an empty cell)");
    if (f.type == host::kFieldLink)
      FailAtPlace(place, field + "the link is missing (an empty cell)");
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
    FailAtPlace(place, field + "'" + cell + "' is not a whole number");
  }
  if (f.type == host::kFieldDecimal) {
    if (!host::IsNumeric(cell)) FailAtPlace(place, field + "'" + cell + "' is not a number");
    try {
      return host::Value{host::ParseNumber(cell)};
    } catch (const host::HostError&) {
      FailAtPlace(place, field + "'" + cell + "' is out of range");
    }
  }
  return host::Value{cell};
}

}  // namespace

void ReadInlineRows(const json& rows, LayerSpec& layer) {
  const std::string path = MemberPath(layer.path, "rows");
  ExpectArray(rows, path);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::string rpath = ElementPath(path, r);
    const json& row = rows[r];
    if (!row.is_array()) {
      FailAtPath(rpath,
                 "a row must be an array of values in field order, not " + JsonTypeName(row));
    }
    if (row.size() != layer.fields.size()) {
      FailAtPath(rpath, std::to_string(row.size()) + " values for " +
                            std::to_string(layer.fields.size()) + " fields");
    }
    std::vector<host::Value> values;
    for (std::size_t c = 0; c < row.size(); ++c) {
      values.push_back(CellFromJson(row[c], layer.fields[c], ElementPath(rpath, c)));
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
    FailAtPlace(display, "the CSV file of layer '" + layer.name + "' (" +
                             MemberPath(layer.path, "csv") + ") does not exist");
  }
  if (!fs::is_regular_file(file, ec)) {
    FailAtPlace(display, "the CSV file of layer '" + layer.name + "' is not a file");
  }
  std::vector<CsvRecord> records;
  try {
    records = ReadCsvFile(file.string(), display);
  } catch (const DescriptionError& e) {
    throw Problem{"", e.what(), false};
  }
  if (records.empty()) {
    FailAtPlace(display, "the file is empty; the first row must name the fields of layer '" +
                             layer.name + "'");
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
      FailAtPlace(hplace, "unknown field '" + name + "' in the header (layer '" + layer.name +
                              "' has the fields " + JoinTexts(field_names, ", ") + ")");
    }
    if (column_of_field[found] >= 0) {
      FailAtPlace(hplace, "field '" + layer.fields[found].name + "' appears twice in the header");
    }
    column_of_field[found] = static_cast<int>(c);
  }
  for (std::size_t k = 0; k < layer.fields.size(); ++k) {
    if (column_of_field[k] < 0) {
      FailAtPlace(hplace, "field '" + layer.fields[k].name + "' of layer '" + layer.name +
                              "' is missing from the header");
    }
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& rec = records[r];
    const std::string place = display + ":" + std::to_string(rec.line);
    if (rec.cells.size() != header.cells.size()) {
      FailAtPlace(place, std::to_string(rec.cells.size()) + " cells, but the header has " +
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

void FailRow(const LayerSpec& layer, std::size_t row, const std::string& what) {
  throw Problem{layer.row_places[row], what, !layer.rows_from_csv};
}

}  // namespace pramble::sqlhost::description
