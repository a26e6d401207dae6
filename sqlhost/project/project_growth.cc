#include "sqlhost/project/project_growth.h"

#include <algorithm>

#include "pramble/host/value.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "sqlhost/dao/sqlite_database.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/description_reader.h"
#include "sqlhost/project/description_writer.h"
#include "sqlhost/project/project_error.h"
#include "sqlhost/project/schema.h"

namespace pramble::sqlhost {
namespace {

using description::AnalysisSpec;
using description::DefinitionSpec;
using description::Description;

constexpr const char* kDefinitionTables[] = {"surveys", "data_filters", "model_definitions"};

std::vector<DefinitionSpec> ReadDefinitionRows(const Connection& db, const std::string& table) {
  std::vector<DefinitionSpec> defs;
  Statement s(db, "SELECT id, name, definition FROM " + table + " ORDER BY id");
  while (s.Step()) {
    defs.push_back({static_cast<std::int32_t>(s.ColumnInt(0)), s.ColumnText(1), s.ColumnText(2)});
  }
  return defs;
}

}  // namespace

description::Description DescriptionOf(Project& project) {
  Description d;
  for (const auto& layer : project.layers().all()) {
    description::LayerSpec spec;
    spec.name = layer->Name();
    spec.type = layer->LayerType();
    for (int i = 0; i < layer->Fields().Count(); ++i) {
      auto f = layer->Fields().At(i);
      spec.fields.push_back({f->Name(), "", f->Units(), f->FieldType()});
    }
    d.layers.push_back(std::move(spec));
  }
  const Connection& db = project.project_database().connection();
  d.surveys = ReadDefinitionRows(db, "surveys");
  d.data_filters = ReadDefinitionRows(db, "data_filters");
  d.model_definitions = ReadDefinitionRows(db, "model_definitions");
  for (const ItemInfo& item : project.ListItems()) {
    d.analyses.push_back({item.id, item.name, item.survey_id, item.data_filter_id,
                          item.model_definition_id});
  }
  return d;
}

namespace {

// Runs `change` in one immediate transaction of the project database.
template <class Change>
void InTransaction(Project& project, Change change) {
  const Connection& db = project.project_database().connection();
  db.Exec("BEGIN IMMEDIATE");
  try {
    change(db);
    db.Exec("COMMIT");
  } catch (...) {
    db.Exec("ROLLBACK");
    throw;
  }
}

template <class T>
std::int32_t NextId(const std::vector<T>& rows) {
  std::int32_t id = 0;
  for (const T& row : rows) id = std::max(id, row.id);
  return id + 1;
}

// "io, hr" from "Method io; DSModel /Key=hr; ...".
std::string DefaultModelName(const std::string& definition, std::int32_t id) {
  TextDefinitionReader reader;
  const std::string method = reader.GetCommand(definition, "Method").value;
  const std::string key = reader.GetCommand(definition, "DSModel").LastOption("Key").value_or("");
  if (method.empty()) return "model " + std::to_string(id);
  return key.empty() ? method : method + ", " + key;
}

// Checks and writes what `fragment` adds, within the caller's transaction
// (so that the IDs read are still free when the rows go in).
Additions AddWithin(const Connection& db, const Description& project,
                    const nlohmann::json& fragment, const std::string& file) {
  Description added;
  try {
    added = description::ReadFragment(fragment, project);
  } catch (const description::Problem& p) {
    throw DescriptionError(ProblemMessage(p, file));
  }
  description::WriteDefinitionsAndAnalyses(db, added);
  Additions result;
  for (const AnalysisSpec& a : added.analyses) result.analyses.push_back(a.id);
  result.definitions =
      added.surveys.size() + added.data_filters.size() + added.model_definitions.size();
  return result;
}

}  // namespace

Additions AddFragment(Project& project, const nlohmann::json& fragment, const std::string& file) {
  Additions result;
  InTransaction(project,
                [&](const Connection& db) {
                  result = AddWithin(db, DescriptionOf(project), fragment, file);
                });
  return result;
}

Additions AddFragmentFile(Project& project, const std::string& path) {
  return AddFragment(project, ReadDescriptionFile(path, "the fragment"), path);
}

std::int32_t AddModelItem(Project& project, const std::string& definition, std::string name,
                          std::optional<std::int32_t> like) {
  std::int32_t item_id = 0;
  InTransaction(project, [&](const Connection& db) {
    const Description d = DescriptionOf(project);
    const AnalysisSpec* base = nullptr;
    for (const AnalysisSpec& a : d.analyses) {
      if (like ? a.id == *like : (!base || a.id < base->id)) base = &a;
    }
    if (!base) {
      throw ProjectError(ProjectError::Kind::kMissing,
                         "project '" + project.folder() + "' has no analysis item " +
                             (like ? std::to_string(*like)
                                   : "to take the survey and data filter from"));
    }
    const std::int32_t model_id = NextId(d.model_definitions);
    item_id = NextId(d.analyses);
    if (name.empty()) name = DefaultModelName(definition, model_id);
    const nlohmann::json fragment = {
        {"model_definitions", {{{"id", model_id}, {"name", name}, {"definition", definition}}}},
        {"analyses",
         {{{"id", item_id},
           {"name", name},
           {"survey", base->survey},
           {"data_filter", base->data_filter},
           {"model_definition", model_id}}}}};
    AddWithin(db, d, fragment, "");
  });
  project.NotifyItemChanged();
  return item_id;
}

std::vector<std::string> DeleteItem(Project& project, std::int32_t id) {
  const Description d = DescriptionOf(project);
  const auto item = std::find_if(d.analyses.begin(), d.analyses.end(),
                                 [id](const AnalysisSpec& a) { return a.id == id; });
  if (item == d.analyses.end()) {
    throw ProjectError(ProjectError::Kind::kMissing, "project '" + project.folder() +
                                                          "' has no analysis item " +
                                                          std::to_string(id));
  }
  std::vector<std::string> deleted = {"analysis item " + std::to_string(id) + " '" +
                                      item->name + "'"};
  InTransaction(project, [&](const Connection& db) {
    Statement(db, "DELETE FROM analysis_stats WHERE analysis_id = ?1")
        .Bind(1, host::Value{std::int64_t{id}})
        .Run();
    DeleteRecord(db, id);
    Statement(db, "DELETE FROM analyses WHERE id = ?1").Bind(1, host::Value{std::int64_t{id}}).Run();
    const std::int32_t used[] = {item->survey, item->data_filter, item->model_definition};
    const char* columns[] = {"survey_id", "data_filter_id", "model_definition_id"};
    const char* kinds[] = {"survey", "data filter", "model definition"};
    const std::vector<DefinitionSpec>* defs[] = {&d.surveys, &d.data_filters,
                                                 &d.model_definitions};
    for (int k = 0; k < 3; ++k) {
      Statement still(db, std::string("SELECT count(*) FROM analyses WHERE ") + columns[k] +
                              " = ?1");
      still.Bind(1, host::Value{std::int64_t{used[k]}});
      if (still.Step() && still.ColumnInt(0) > 0) continue;
      Statement(db, std::string("DELETE FROM ") + kDefinitionTables[k] + " WHERE id = ?1")
          .Bind(1, host::Value{std::int64_t{used[k]}})
          .Run();
      for (const DefinitionSpec& def : *defs[k]) {
        if (def.id == used[k]) {
          deleted.push_back(std::string(kinds[k]) + " " + std::to_string(def.id) + " '" +
                            def.name + "'");
        }
      }
    }
  });
  project.NotifyItemChanged();
  return deleted;
}

}  // namespace pramble::sqlhost
