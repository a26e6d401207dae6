// Every name the host gives to things inside a project folder, in one place:
// the two database files, the tables of the project database, the layer tables
// of the data database and the names of the items' temporary queries.
// docs/project-description.md describes the folder for users.
//
// Project database (project.db):
//   project_info(key, value)                       format marker
//   settings(section, key, kind, value)            the settings store (scope 1);
//                                                  kind: SettingKind of the value
//   surveys / data_filters / model_definitions(id, name, definition)
//   analyses(id, name, survey_id, data_filter_id, model_definition_id,
//            status, run_date)                     run_date: microseconds since
//                                                  1970-01-01 UTC, NULL when empty
//   analysis_stats(analysis_id, code, value)
//   analysis_records(analysis_id, record)          a run's statistics at full
//                                                  precision with their units
//                                                  (JSON, run_record.h); made
//                                                  by the first record in
//                                                  projects older than it
//   layers(ord, name, layer_type, parent, table_name)
//   layer_fields(layer_ord, ord, name, kind, field_type, units)
// The component adds its results table itself on the first save.
//
// Data database (data.db): one table per layer, named as the layer, with one
// column per field; the items' temporary queries are saved there too.
#pragma once

#include <cstdint>
#include <string>

#include "pramble/host/value.h"

namespace pramble::sqlhost {

class Connection;

inline constexpr const char* kFormatKey = "format";
inline constexpr const char* kFormatValue = "pramble-project-1";

inline constexpr const char* kRecordsTable = "analysis_records";
inline constexpr const char* kRecordsColumns =
    " (analysis_id INTEGER PRIMARY KEY REFERENCES analyses (id), record TEXT NOT NULL)";
// Deletes item `id`'s record, when the project has the table.
void DeleteRecord(const Connection& db, std::int32_t id);

// The saved name of item `id`'s temporary query for a suffix ("_Obs") or a
// layer name. Only [A-Za-z0-9_] occur, so the name stands unbracketed in SQL:
//   suffix "_" + letters and digits:  tq<id>_<rest>        tq12_Obs
//   a layer name:                     tq<id>_L_<encoded>   tq12_L_Line_20transect
//   any other suffix:                 tq<id>_S_<encoded>
// <id> is the decimal ID ("n" + digits for a negative one); <encoded> keeps
// letters and digits and writes every other byte as "_" and two upper-case hex
// digits, so that different names (compared without regard to case, as SQLite
// compares names) never meet. Every name of item `id` starts with
// TempQueryPrefix(id); layer tables never do (see IsReservedLayerName).
std::string TempQueryName(const std::string& suffix_or_layer, std::int32_t id);
std::string TempQueryPrefix(std::int32_t id);
// True when `name` is one of item `id`'s temporary queries (case ignored).
bool IsTempQueryOf(const std::string& name, std::int32_t id);

// True for layer names that `create` refuses because their table could meet a
// temporary query or a table of SQLite or of the database layer: names that
// start with "tq" + digits + "_" or "tqn" + digits + "_", or with "sqlite_", or
// with "pramble_" (compared without regard to case).
bool IsReservedLayerName(const std::string& name);

// The data-database table that holds a layer's rows.
std::string LayerTableName(const std::string& layer_name);

// The kind under which the settings table stores `value`, so that it reads
// back with its type: "bool" (stored as 1 or 0), "integer", "double", "text".
const char* SettingKind(const host::Value& value);

// Creates the tables of an empty project database. Throws host::HostError
// with SQLite's message and the statement on failure.
void CreateProjectSchema(const Connection& db);

}  // namespace pramble::sqlhost
