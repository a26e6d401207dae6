// The project description reader: the JSON of docs/project-description.md
// into a Description, with every check made before anything is written
// (names, types, the layer hierarchy, inline rows, CSV headers, definitions
// that can be read, analyses that name existing definitions). The rows of
// CSV files, unique IDs and links between records are checked as the rows
// are written (description_rows.h).
// A description that fails a check throws Problem (description_json.h).
//
//   Description d = ReadDescription(top, "/surveys/seabirds");
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pramble/host/value.h"
#include "sqlhost/project/description_json.h"

namespace pramble::sqlhost::description {

// A field of a layer: its name, its kind as written ("id", "decimal", ...)
// in lower case, the host field type of that kind, and its units.
struct FieldSpec {
  std::string name, kind, units;
  std::int32_t type = 0;
};

// A layer with its fields and rows; `parent_index` is the parent's place in
// Description::layers (-1 for the global layer). Rows given inline are held
// here, checked cell by cell; rows in a CSV file stay in the file, whose
// header has been checked, and are read and checked one at a time as the
// layer's table is written (LayerRows, description_rows.h).
struct LayerSpec {
  std::string name;
  std::int32_t type = 0;
  std::string parent;
  int parent_index = -1;
  std::vector<FieldSpec> fields;
  std::vector<std::vector<host::Value>> rows;  // inline rows
  std::vector<std::string> row_places;         // their JSON paths, for messages
  std::string csv_file;                        // the CSV file to open; "" for inline rows
  std::string csv_display;                     // its name in messages
  std::vector<int> csv_columns;                // the file's column of each field
  std::size_t csv_width = 0;                   // the number of cells in its header
  std::string path;                            // layers[i]
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

// A project description, read and checked whole.
struct Description {
  std::vector<SettingSpec> settings;
  std::vector<LayerSpec> layers;
  std::vector<DefinitionSpec> surveys, data_filters, model_definitions;
  std::vector<AnalysisSpec> analyses;
};

// Reads and checks the description `top`; CSV paths resolve against
// `base_dir` ("" for the current folder).
Description ReadDescription(const json& top, const std::string& base_dir);

// The definitions and analyses of a fragment of a description (its sections
// surveys, data_filters, model_definitions and analyses) read against
// `project`: the project's layers, definitions and analyses as they stand.
// The fragment's IDs must be new to the project; its analyses may name the
// project's definitions. Answers only what the fragment adds.
Description ReadFragment(const json& top, const Description& project);

// The rows of a layer (description_rows.cc), read after its fields.
// Rows given inline: "rows" of layer `layer`, each an array in field order.
void ReadInlineRows(const json& rows, LayerSpec& layer);
// The CSV file `csv` (relative to `base_dir`) of `layer`: it must exist and
// its first record must name the layer's fields, in any order. Its rows are
// read when the layer's table is written.
void OpenCsvRows(const std::string& csv, const std::string& base_dir, LayerSpec& layer);

}  // namespace pramble::sqlhost::description
