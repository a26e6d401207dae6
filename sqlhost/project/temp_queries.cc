#include "sqlhost/project/temp_queries.h"

#include <map>
#include <memory>
#include <vector>

#include "pramble/host/errors.h"
#include "sqlhost/jet/jet_sql.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/util/units.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

constexpr std::int32_t kError = 2;

// A database error message that shows the statement: the database layer's
// messages carry it; any other gets it added.
std::string WithSql(const std::string& message, const std::string& jet_sql) {
  if (message.find(jet_sql) != std::string::npos) return message;
  return message + ". Jet SQL: " + jet_sql;
}

// How messages name the data filter of item `id`: "data filter 'NAME' (ID n)".
std::string DataFilterLabel(host::ProjectDatabase& project, std::int32_t id) {
  try {
    host::dao::Database& db = project.Database();
    auto rs = db.OpenRecordset(
        "SELECT [data_filters].[id], [data_filters].[name] FROM [data_filters] WHERE "
        "[data_filters].[id] = (SELECT [data_filter_id] FROM [analyses] WHERE [id] = " +
            std::to_string(id) + ")",
        host::dao::kOpenSnapshot);
    if (!rs->Eof()) {
      return "data filter '" + host::ToText(rs->Fields(1).GetValue()) + "' (ID " +
             host::ToText(rs->Fields(0).GetValue()) + ")";
    }
  } catch (const host::HostError&) {
  }
  return "data filter of analysis item " + std::to_string(id);
}

struct LayerTable {
  std::string name, table;
};

std::vector<LayerTable> ReadLayerTables(host::ProjectDatabase& project) {
  std::vector<LayerTable> layers;
  auto rs = project.Database().OpenRecordset(
      "SELECT [name], [table_name] FROM [layers] ORDER BY [ord]", host::dao::kOpenSnapshot);
  for (; !rs->Eof(); rs->MoveNext()) {
    layers.push_back(
        LayerTable{host::ToText(rs->Fields(0).GetValue()), host::ToText(rs->Fields(1).GetValue())});
  }
  rs->Close();
  return layers;
}

// The layer named `name`; null when the project has none.
std::shared_ptr<host::DataLayer> LayerNamed(host::ProjectDatabase& project,
                                            const std::string& name) {
  try {
    return project.Layers().Item(name);
  } catch (const host::HostError&) {
    return nullptr;
  }
}

// True when `field` can hold a measure: a number field with units. Otherwise
// logs why, after `where` ("The area field 'X' of layer 'Y'").
bool IsNumberWithUnits(const host::LayerField& field, const std::string& where, host::Log& log) {
  if (field.FieldType() != host::kFieldInteger && field.FieldType() != host::kFieldDecimal) {
    log.Add(where + " is not a number field.", kError);
    return false;
  }
  if (field.Units().empty()) {
    log.Add(where + " has no units.", kError);
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
bool SqliteTempQueries::GetObsLayerName(std::string& obs_layer_name,
                                      const std::string& survey_definition,
                                      host::LayerCollection& layers, host::Log& log) {
  const auto* list = dynamic_cast<const ProjectLayers*>(&layers);
  if (!list) {
    log.Add("Could not find the observation layer: the survey's layers cannot be listed.", kError);
    return false;
  }
  for (const auto& layer : list->all()) {
    if (layer->LayerType() == host::kLayerObservation) {
      obs_layer_name = layer->Name();
      return true;
    }
  }
  log.Add("The survey has no observation layer (a layer of type 30).", kError);
  return false;
}

bool SqliteTempQueries::MakeLayerQueries(host::ProjectDatabase& project, std::int32_t id,
                                       const std::string& obs_layer_name,
                                       const std::string& data_filter_definition, host::Log& log) {
  host::dao::Database& data = project.DataDatabase();
  DeleteTempQueries(id, data);

  std::vector<LayerTable> layers;
  try {
    layers = ReadLayerTables(project);
  } catch (const host::HostError& e) {
    log.Add("Could not read the survey's layers: " + std::string(e.what()), kError);
    return false;
  }

  // The data filter's selections, as one translated condition per layer.
  std::map<std::size_t, std::vector<std::string>> criteria;  // layer index -> criteria
  std::string rest = data_filter_definition;
  while (!rest.empty()) {
    const host::Command c = reader_.GetNextCommand(rest);
    if (!c.found || !host::EqualsNoCase(c.name, "Select")) continue;
    const auto layer_name = c.LastOption("Layer");
    const std::string criterion = c.LastOption("Criteria").value_or("");
    if (!layer_name || layer_name->empty()) {
      log.Add("The " + DataFilterLabel(project, id) +
                  " has a Select command without /Layer=NAME (criterion: " + criterion + ").",
              kError);
      return false;
    }
    std::size_t index = layers.size();
    for (std::size_t i = 0; i < layers.size(); ++i) {
      if (host::EqualsNoCase(layers[i].name, *layer_name)) index = i;
    }
    if (index == layers.size()) {
      log.Add("The " + DataFilterLabel(project, id) + " selects on layer '" + *layer_name +
                  "', which this survey does not have (criterion: " + criterion + ").",
              kError);
      return false;
    }
    if (criterion.empty()) {
      log.Add("The " + DataFilterLabel(project, id) + " has a Select command for layer '" +
                  layers[index].name + "' without /Criteria=TEXT.",
              kError);
      return false;
    }
    try {
      TranslateJetCondition(criterion);
    } catch (const host::HostError& e) {
      log.Add("The " + DataFilterLabel(project, id) + " has a Select criterion for layer '" +
                  layers[index].name + "' that is not one condition: " + criterion + " (" +
                  e.what() + ").",
              kError);
      return false;
    }
    criteria[index].push_back(criterion);
  }

  for (std::size_t i = 0; i < layers.size(); ++i) {
    std::string sql = "SELECT * FROM [" + layers[i].table + "]";
    auto it = criteria.find(i);
    if (it != criteria.end()) {
      for (std::size_t k = 0; k < it->second.size(); ++k) {
        sql += (k == 0 ? " WHERE (" : " AND (") + it->second[k] + ")";
      }
    }
    const std::string name = GetTempQueryName(layers[i].name, id);
    try {
      // Saving prepares the query, which finds criteria that name missing fields.
      data.CreateQueryDef(name, sql);
    } catch (const host::HostError& e) {
      if (it != criteria.end()) {
        std::string all;
        for (const auto& c : it->second) all += (all.empty() ? "" : "; ") + c;
        log.Add("The " + DataFilterLabel(project, id) + " has a Select criterion for layer '" +
                    layers[i].name + "' that cannot be used: " + all + " (" + e.what() + ").",
                kError);
      } else {
        log.Add("Could not save the temporary query '" + name + "' of layer '" + layers[i].name +
                    "': " + WithSql(e.what(), sql),
                kError);
      }
      return false;
    }
  }
  return true;
}

bool SqliteTempQueries::MakeTempQuery(const std::string& suffix, const std::string& jet_sql,
                                    std::int32_t id, host::dao::Database& data_database,
                                    host::Log& log, bool flag) {
  const std::string name = GetTempQueryName(suffix, id);
  try {
    if (data_database.QueryDefExists(name)) data_database.DeleteQueryDef(name);
    data_database.CreateQueryDef(name, jet_sql);
    return true;
  } catch (const host::HostError& e) {
    log.Add("Could not save the temporary query '" + name + "': " + WithSql(e.what(), jet_sql),
            kError);
    return false;
  }
}

std::string SqliteTempQueries::GetTempQueryName(const std::string& suffix_or_layer, std::int32_t id) {
  return TempQueryName(suffix_or_layer, id);
}

bool SqliteTempQueries::DeleteTempQueries(std::int32_t id, host::dao::Database& data_database) {
  try {
    std::vector<std::string> names;
    for (const auto& n : data_database.QueryDefNames()) {
      if (IsTempQueryOf(n, id)) names.push_back(n);
    }
    // Later queries are built on earlier ones: remove them first, and try
    // again for any that could not go while another still used it.
    for (int pass = 0; pass < 3 && !names.empty(); ++pass) {
      std::vector<std::string> left;
      for (auto it = names.rbegin(); it != names.rend(); ++it) {
        try {
          data_database.DeleteQueryDef(*it);
        } catch (const host::HostError&) {
          left.insert(left.begin(), *it);
        }
      }
      names.swap(left);
    }
    return names.empty();
  } catch (const host::HostError&) {
    return false;
  }
}

// ---------------------------------------------------------------------------
bool SqliteTempQueries::GetAreaFilterText(std::string& area_filter_text,
                                        const std::string& data_filter_definition, host::Log& log) {
  const host::Command c = reader_.GetCommand(data_filter_definition, "Units");
  area_filter_text = c.found ? c.LastOption("Area").value_or("") : "";
  return true;
}

bool SqliteTempQueries::GetAreaSource(std::string& area_field, std::string& area_layer,
                                    double& area_factor, std::string& area_units,
                                    host::ProjectDatabase& project,
                                    const std::string& survey_definition,
                                    const std::string& area_filter_text,
                                    const std::string& start_layer, std::int32_t strat_type,
                                    std::int32_t strat_layer_type, host::Log& log) {
  const host::Command c = reader_.GetCommand(survey_definition, "Area");
  const std::string name = c.found ? c.LastOption("Fld").value_or("") : "";
  if (name.empty() || host::EqualsNoCase(name, "None")) {
    area_field = "None";
    area_layer.clear();
    area_factor = 0;
    area_units.clear();
    return true;
  }
  std::shared_ptr<host::LayerField> field;
  std::shared_ptr<host::DataLayer> layer = LayerNamed(project, start_layer);
  if (!layer) {
    log.Add("Could not look for the area field '" + name + "': the survey has no layer '" +
                start_layer + "'.",
            kError);
    return false;
  }
  for (; layer; layer = layer->GetParentLayer("")) {
    field = layer->Fields().Item(name);
    if (field) break;
  }
  if (!field) {
    log.Add("The survey's area field '" + name + "' does not exist in layer '" + start_layer +
                "' or any layer above it.",
            kError);
    return false;
  }
  const std::string where =
      "The area field '" + field->Name() + "' of layer '" + layer->Name() + "'";
  if (!IsNumberWithUnits(*field, where, log)) return false;
  const std::string units = field->Units();
  const auto field_m2 = SquareMetresPerAreaUnit(units);
  if (!field_m2) {
    log.Add(where + " has the units '" + units + "', which are not an area unit.", kError);
    return false;
  }
  area_field = field->Name();
  area_layer = layer->Name();
  area_factor = 0;
  area_units = units;
  if (!area_filter_text.empty() && !host::EqualsNoCase(area_filter_text, units)) {
    const auto target_m2 = SquareMetresPerAreaUnit(area_filter_text);
    if (!target_m2) {
      log.Add("The data filter asks for areas in '" + area_filter_text +
                  "', which is not an area unit.",
              kError);
      return false;
    }
    area_factor = *field_m2 / *target_m2;
    area_units = area_filter_text;
  }
  return true;
}

bool SqliteTempQueries::GetEffortSource(std::string& effort_field, std::string& effort_layer,
                                      std::string& effort_units, host::ProjectDatabase& project,
                                      const std::string& survey_definition,
                                      const std::string& start_layer, std::int32_t smp_layer_type,
                                      std::int32_t strat_type, std::int32_t strat_layer_type,
                                      host::Log& log) {
  const host::Command c = reader_.GetCommand(survey_definition, "Effort");
  const std::string name = c.found ? c.LastOption("Fld").value_or("") : "";
  if (name.empty() || host::EqualsNoCase(name, "None")) {
    log.Add("The survey definition names no effort field (Effort /Fld=NAME).", kError);
    return false;
  }
  std::shared_ptr<host::LayerField> field;
  std::shared_ptr<host::DataLayer> layer = LayerNamed(project, start_layer);
  if (!layer) {
    log.Add("Could not look for the effort field '" + name + "': the survey has no layer '" +
                start_layer + "'.",
            kError);
    return false;
  }
  // Only the sample layers up to the top one are part of the samples.
  for (; layer && host::IsSampleLayerType(layer->LayerType());
       layer = layer->LayerType() == host::kLayerSample ? nullptr : layer->GetParentLayer("")) {
    field = layer->Fields().Item(name);
    if (field) break;
  }
  if (!field) {
    log.Add("The survey's effort field '" + name + "' does not exist in layer '" + start_layer +
                "' or the sample layers above it.",
            kError);
    return false;
  }
  const std::string where =
      "The effort field '" + field->Name() + "' of layer '" + layer->Name() + "'";
  if (!IsNumberWithUnits(*field, where, log)) return false;
  if (!MetresPerLengthUnit(field->Units())) {
    log.Add(where + " has the units '" + field->Units() + "', which are not a length unit.",
            kError);
    return false;
  }
  effort_field = field->Name();
  effort_layer = layer->Name();
  effort_units = field->Units();
  return true;
}

std::string SqliteTempQueries::GetLayerTypeName(std::int32_t layer_type) {
  using host::kLayerSample;
  using host::kLayerStratum;
  if (layer_type == host::kLayerGlobal) return "Global";
  if (layer_type == kLayerStratum) return "Stratum";
  if (host::IsStratumLayerType(layer_type))
    return "Substratum" + std::to_string(layer_type - kLayerStratum);
  if (layer_type == kLayerSample) return "Sample";
  if (host::IsSampleLayerType(layer_type))
    return "Subsample" + std::to_string(layer_type - kLayerSample);
  if (layer_type == host::kLayerObservation) return "Observation";
  return std::to_string(layer_type);
}

}  // namespace pramble::sqlhost
