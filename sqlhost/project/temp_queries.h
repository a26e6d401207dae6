// The host's temporary queries of an analysis item: the per-layer queries
// with the data filter's selections, the queries the component saves while it
// makes its data files, and where the area and effort of a survey come from.
// The queries are saved in the project's data database under the names of
// TempQueryName (schema.h); they never meet a layer table.
//
// The host's own definition commands read here (docs/definitions.md):
//   survey       Area /Fld=NAME      the area field ("None" or absent: no area)
//   survey       Effort /Fld=NAME    the effort field
//   data filter  Select /Layer=NAME /Criteria=TEXT   a condition on one layer
//   data filter  Units /Area=UNIT    report areas in UNIT
//
// The flag of MakeTempQuery has no effect in this host. Operations that take
// a Log write a level-2 message there and answer False when they fail.
//
// Thread-safety: one instance per thread (the reader it is given likewise).
#pragma once

#include <cstdint>
#include <string>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

class SqliteTempQueries : public host::TempQueries, public host::LayerTypeNames {
 public:
  // `reader` reads the definitions; it must outlive this object.
  explicit SqliteTempQueries(host::DefinitionReader& reader) : reader_(reader) {}

  bool GetObsLayerName(std::string& obs_layer_name, const std::string& survey_definition,
                       host::LayerCollection& layers, host::Log& log) override;
  bool MakeLayerQueries(host::ProjectDatabase& project, std::int32_t id,
                        const std::string& obs_layer_name,
                        const std::string& data_filter_definition, host::Log& log) override;
  bool MakeTempQuery(const std::string& suffix, const std::string& jet_sql, std::int32_t id,
                     host::dao::Database& data_database, host::Log& log, bool flag) override;
  std::string GetTempQueryName(const std::string& suffix_or_layer, std::int32_t id) override;
  bool DeleteTempQueries(std::int32_t id, host::dao::Database& data_database) override;
  bool GetAreaFilterText(std::string& area_filter_text, const std::string& data_filter_definition,
                         host::Log& log) override;
  // The area layer is the first layer, from `start_layer` upwards, that has a
  // field of the survey's area name. strat_type and strat_layer_type play no
  // part in this host.
  bool GetAreaSource(std::string& area_field, std::string& area_layer, double& area_factor,
                     std::string& area_units, host::ProjectDatabase& project,
                     const std::string& survey_definition, const std::string& area_filter_text,
                     const std::string& start_layer, std::int32_t strat_type,
                     std::int32_t strat_layer_type, host::Log& log) override;
  // The effort layer is the first sample layer (types 20 to 25), from
  // `start_layer` up to the top sample layer, that has a field of the
  // survey's effort name.
  bool GetEffortSource(std::string& effort_field, std::string& effort_layer,
                       std::string& effort_units, host::ProjectDatabase& project,
                       const std::string& survey_definition, const std::string& start_layer,
                       std::int32_t smp_layer_type, std::int32_t strat_type,
                       std::int32_t strat_layer_type, host::Log& log) override;

  // 1 "Global", 10 "Stratum", 11-15 "Substratum1".."Substratum5", 20 "Sample",
  // 21-25 "Subsample1".."Subsample5", 30 "Observation"; any other code its
  // decimal text. The names are plain identifiers (they become column-name
  // prefixes).
  std::string GetLayerTypeName(std::int32_t layer_type) override;

 private:
  host::DefinitionReader& reader_;
};

}  // namespace pramble::sqlhost
