// The rows of a layer one at a time, as its table is written: inline rows
// as the reader holds them, CSV rows read from the file record by record,
// each cell checked for its field, so that a file of any size takes the same
// memory. A row at fault throws Problem naming the JSON path, or the file
// and line, and the field.
//
//   LayerRows rows(layer);
//   while (rows.Next()) Insert(rows.values());
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pramble/host/value.h"
#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/description_reader.h"

namespace pramble::sqlhost::description {

class LayerRows {
 public:
  // Opens the layer's CSV file, if it has one, past its header.
  explicit LayerRows(const LayerSpec& layer);

  // The next row; false after the last.
  bool Next();
  // The current row's values in field order.
  const std::vector<host::Value>& values() const { return *values_; }
  // The current row's place: its JSON path or "file.csv:LINE".
  std::string Place() const;
  // Fails at the current row.
  [[noreturn]] void Fail(const std::string& what) const;
  // The place of the first row whose field `field` holds `id`, found by
  // reading the rows again from the start ("" when there is none).
  std::string FirstPlaceOf(std::size_t field, std::int64_t id) const;

 private:
  const LayerSpec& layer_;
  std::optional<CsvReader> csv_;
  CsvRecord record_;
  std::vector<host::Value> cells_;
  const std::vector<host::Value>* values_ = nullptr;
  std::size_t row_ = 0;  // 1 + the index of the current inline row
};

}  // namespace pramble::sqlhost::description
