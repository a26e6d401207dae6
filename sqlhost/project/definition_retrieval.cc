#include "sqlhost/project/definition_retrieval.h"

#include "pramble/host/errors.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

struct DefinitionKind {
  const char* table;      // definitions table
  const char* id_column;  // the analyses column that names the definition
  const char* what;       // the definition, for messages
  const char* text;       // its text, for messages
};

constexpr DefinitionKind kSurvey{"surveys", "survey_id", "survey", "survey definition"};
constexpr DefinitionKind kDataFilter{"data_filters", "data_filter_id", "data filter",
                                     "data filter definition"};
constexpr DefinitionKind kModel{"model_definitions", "model_definition_id", "model definition",
                                "model definition"};

bool Retrieve(const DefinitionKind& kind, std::string& definition, host::ProjectDatabase& project,
              host::BrowserItem& item, host::Log& log) {
  std::int32_t id = 0;
  try {
    id = item.ID();
    host::dao::Database& db = project.Database();
    auto rs = db.OpenRecordset(std::string("SELECT [") + kind.id_column +
                                   "] FROM [analyses] WHERE [id] = " + std::to_string(id),
                               host::dao::kOpenSnapshot);
    if (rs->Eof()) {
      log.Add("Could not find the " + std::string(kind.text) + " of analysis item " +
                  std::to_string(id) + ": the project has no such item.",
              2);
      return false;
    }
    const std::int32_t def_id = host::ToLong(rs->Fields(0).GetValue());
    rs->Close();
    auto ds = db.OpenRecordset(std::string("SELECT [definition] FROM [") + kind.table +
                                   "] WHERE [id] = " + std::to_string(def_id),
                               host::dao::kOpenSnapshot);
    if (ds->Eof()) {
      log.Add("Could not find the " + std::string(kind.text) + " of analysis item " +
                  std::to_string(id) + ": the item names " + kind.what + " " +
                  std::to_string(def_id) + ", which the project does not have.",
              2);
      return false;
    }
    definition = host::ToText(ds->Fields(0).GetValue());
    ds->Close();
    return true;
  } catch (const host::HostError& e) {
    log.Add("Could not read the " + std::string(kind.text) + " of analysis item " +
                std::to_string(id) + ": " + e.what(),
            2);
    return false;
  }
}

}  // namespace

bool ProjectDefinitionRetrieval::GetSurveyDefinition(std::string& definition,
                                                  host::ProjectDatabase& project,
                                                  host::BrowserItem& item, host::Log& log) {
  return Retrieve(kSurvey, definition, project, item, log);
}

bool ProjectDefinitionRetrieval::GetDataFilterDefinition(std::string& definition,
                                                      host::ProjectDatabase& project,
                                                      host::BrowserItem& item, host::Log& log) {
  return Retrieve(kDataFilter, definition, project, item, log);
}

bool ProjectDefinitionRetrieval::GetModelDefinitionDefinition(std::string& definition,
                                                           host::ProjectDatabase& project,
                                                           host::BrowserItem& item,
                                                           host::Log& log) {
  return Retrieve(kModel, definition, project, item, log);
}

}  // namespace pramble::sqlhost
