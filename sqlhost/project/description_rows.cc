// The rows of a layer, given inline or in a CSV file, and their cells read
// for the field types (description_rows.h).
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "pramble/host/errors.h"
#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/description_rows.h"
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

// The value of a CSV cell for field `f`; `place()` names the record for
// messages. A plain number is read at once; the rest (blanks around it, a
// leading '+', a whole number written as 2.0, a bad cell) the long way.
template <class PlaceOf>
host::Value CellFromText(const std::string& cell, const FieldSpec& f, const PlaceOf& place) {
  auto fail = [&](const std::string& what) {
    FailAtPlace(place(), "field '" + f.name + "': " + what);
  };
  if (cell.empty()) {
    if (f.type == host::kFieldID) fail("the ID is missing (an empty cell)");
    if (f.type == host::kFieldLink) fail("the link is missing (an empty cell)");
    return host::Value{};
  }
  const char* const end = cell.data() + cell.size();
  if (IsIntegerKind(f.type)) {
    std::int64_t v = 0;
    if (auto [p, ec] = std::from_chars(cell.data(), end, v); ec == std::errc() && p == end) {
      return host::Value{v};
    }
    const std::string t = host::Trim(cell, " \t");
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec == std::errc() && p == t.data() + t.size() && !t.empty()) return host::Value{v};
    if (host::IsNumeric(t)) {
      const double d = host::ParseNumber(t);
      if (d == std::floor(d) && std::fabs(d) <= 9007199254740992.0) {
        return host::Value{static_cast<std::int64_t>(d)};
      }
    }
    fail("'" + cell + "' is not a whole number");
  }
  if (f.type == host::kFieldDecimal) {
    // from_chars reads "inf" and "nan", which are no numbers here.
    const char first = cell[0] == '-' && cell.size() > 1 ? cell[1] : cell[0];
    if (std::isdigit(static_cast<unsigned char>(first)) || first == '.') {
      double v = 0;
      if (auto [p, ec] = std::from_chars(cell.data(), end, v); ec == std::errc() && p == end) {
        return host::Value{v};
      }
    }
    if (!host::IsNumeric(cell)) fail("'" + cell + "' is not a number");
    try {
      return host::Value{host::ParseNumber(cell)};
    } catch (const host::HostError&) {
      fail("'" + cell + "' is out of range");
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

void OpenCsvRows(const std::string& csv, const std::string& base_dir, LayerSpec& layer) {
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
  CsvRecord header;
  try {
    CsvReader in(file.string(), display);
    if (!in.Next(header)) {
      FailAtPlace(display, "the file is empty; the first row must name the fields of layer '" +
                               layer.name + "'");
    }
  } catch (const DescriptionError& e) {
    throw Problem{"", e.what(), false};
  }
  // Header: every field of the layer once, in any order.
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
  layer.csv_file = file.string();
  layer.csv_display = display;
  layer.csv_columns = std::move(column_of_field);
  layer.csv_width = header.cells.size();
}

LayerRows::LayerRows(const LayerSpec& layer) : layer_(layer) {
  if (layer.csv_file.empty()) return;
  try {
    csv_.emplace(layer.csv_file, layer.csv_display);
    csv_->Next(record_);  // the header, checked when the description was read
  } catch (const DescriptionError& e) {
    throw Problem{"", e.what(), false};
  }
  cells_.resize(layer.fields.size());
  values_ = &cells_;
}

bool LayerRows::Next() {
  if (!csv_) {
    if (row_ == layer_.rows.size()) return false;
    values_ = &layer_.rows[row_++];
    return true;
  }
  try {
    if (!csv_->Next(record_)) return false;
  } catch (const DescriptionError& e) {
    throw Problem{"", e.what(), false};
  }
  if (record_.cells.size() != layer_.csv_width) {
    Fail(std::to_string(record_.cells.size()) + " cells, but the header has " +
         std::to_string(layer_.csv_width));
  }
  const auto place = [this] { return Place(); };
  for (std::size_t k = 0; k < layer_.fields.size(); ++k) {
    cells_[k] = CellFromText(record_.cells[layer_.csv_columns[k]], layer_.fields[k], place);
  }
  return true;
}

std::string LayerRows::Place() const {
  if (!csv_) return layer_.row_places[row_ - 1];
  return layer_.csv_display + ":" + std::to_string(record_.line);
}

void LayerRows::Fail(const std::string& what) const {
  throw Problem{Place(), what, !csv_};
}

std::string LayerRows::FirstPlaceOf(std::size_t field, std::int64_t id) const {
  LayerRows again(layer_);
  while (again.Next()) {
    const auto* v = std::get_if<std::int64_t>(&again.values()[field]);
    if (v != nullptr && *v == id) return again.Place();
  }
  return "";
}

}  // namespace pramble::sqlhost::description
