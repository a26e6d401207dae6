// Runs the data file maker on real projects built from descriptions, through
// the real host, and records what a test checks: every saved temporary query
// (its text read back from the data database, and its rows just before the
// clean-up), the log, the files written and the queries left behind. The
// wrappers can break one host call to test a fault.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "data_files/c_cls_data_file_maker.h"
#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/project.h"
#include "pramble/host/services.h"
#include "sqlhost/services/default_services.h"
#include "pramble/host/value.h"
#include "support/forwarding_file_system.h"
#include "support/test_project.h"

namespace pramble::testing {

using nlohmann::json;

inline constexpr std::int32_t kItem = 7;

// The rows of a query, one line each (values tab-separated, Null as NULL),
// header first, the rows sorted so that the check does not depend on the
// order of an unsorted query.
inline std::string DumpRows(host::dao::Database& db, const std::string& source) {
  auto rs = db.OpenRecordset(source, host::dao::kOpenDynaset);
  std::string header;
  for (int i = 0; i < rs->FieldCount(); ++i) header += (i ? "\t" : "") + rs->Fields(i).Name();
  std::vector<std::string> rows;
  if (rs->FieldCount() > 0) {
    try {
      rs->MoveFirst();
    } catch (const host::HostError&) {
      return header + "\n";
    }
    for (; !rs->Eof(); rs->MoveNext()) {
      std::string row;
      for (int i = 0; i < rs->FieldCount(); ++i) {
        host::Value v = rs->Fields(i).GetValue();
        row += (i ? "\t" : "") + (host::IsNull(v) ? std::string("NULL") : host::ToText(v));
      }
      rows.push_back(row);
    }
  }
  std::sort(rows.begin(), rows.end());
  std::string out = header + "\n";
  for (const auto& r : rows) out += r + "\n";
  return out;
}

struct SavedQuery {
  std::string suffix;
  std::string sql;  // as the data database holds it
  bool flag = false;
  std::string rows;  // DumpRows just before the clean-up
};

// The real temporary-query object, recording each save; refuses the save of
// `refuse_suffix` the way the host does (a level-2 message, False).
class RecordingQueries : public host::TempQueries {
 public:
  explicit RecordingQueries(host::TempQueries& real) : real_(real) {}
  std::vector<SavedQuery> saved;
  std::string refuse_suffix;
  // The project's own layers, for a test that hands the maker wrapped ones
  // (the host lists only its own layers).
  host::LayerCollection* real_layers = nullptr;

  bool GetObsLayerName(std::string& name, const std::string& survey, host::LayerCollection& layers,
                       host::Log& log) override {
    return real_.GetObsLayerName(name, survey, real_layers ? *real_layers : layers, log);
  }
  bool MakeLayerQueries(host::ProjectDatabase& project, std::int32_t id, const std::string& obs,
                        const std::string& filter, host::Log& log) override {
    return real_.MakeLayerQueries(project, id, obs, filter, log);
  }
  bool MakeTempQuery(const std::string& suffix, const std::string& sql, std::int32_t id,
                     host::dao::Database& db, host::Log& log, bool flag) override {
    if (suffix == refuse_suffix) {
      log.Add("refused " + suffix, 2);
      return false;
    }
    if (!real_.MakeTempQuery(suffix, sql, id, db, log, flag)) return false;
    saved.push_back({suffix, db.QueryDefSql(real_.GetTempQueryName(suffix, id)), flag, ""});
    return true;
  }
  std::string GetTempQueryName(const std::string& suffix, std::int32_t id) override {
    return real_.GetTempQueryName(suffix, id);
  }
  bool DeleteTempQueries(std::int32_t id, host::dao::Database& db) override {
    for (auto& q : saved) {
      try {
        q.rows = DumpRows(db, real_.GetTempQueryName(q.suffix, id));
      } catch (const std::exception& e) {
        q.rows = std::string("error: ") + e.what();
      }
    }
    return real_.DeleteTempQueries(id, db);
  }
  bool GetAreaFilterText(std::string& text, const std::string& filter, host::Log& log) override {
    return real_.GetAreaFilterText(text, filter, log);
  }
  bool GetAreaSource(std::string& field, std::string& layer, double& factor, std::string& units,
                     host::ProjectDatabase& project, const std::string& survey,
                     const std::string& filter_text, const std::string& start,
                     std::int32_t strat_type, std::int32_t strat_layer_type,
                     host::Log& log) override {
    return real_.GetAreaSource(field, layer, factor, units, project, survey, filter_text, start,
                               strat_type, strat_layer_type, log);
  }
  bool GetEffortSource(std::string& field, std::string& layer, std::string& units,
                       host::ProjectDatabase& project, const std::string& survey,
                       const std::string& start, std::int32_t smp_type, std::int32_t strat_type,
                       std::int32_t strat_layer_type, host::Log& log) override {
    return real_.GetEffortSource(field, layer, units, project, survey, start, smp_type, strat_type,
                                 strat_layer_type, log);
  }

 private:
  host::TempQueries& real_;
};

// The real log, recording each message with its level.
class RecordingLog : public host::LogWrapper {
 public:
  using LogWrapper::LogWrapper;
  std::vector<std::pair<std::string, int>> entries;
  void Add(const std::string& message, std::int32_t level) override {
    entries.emplace_back(message, level);
    LogWrapper::Add(message, level);
  }
};

// The real services with the recording query object and, when a test sets
// `files`, another file system.
class TestServices : public host::ServicesWrapper {
 public:
  explicit TestServices(host::Services* real) : ServicesWrapper(real), queries(real->Queries()) {}
  host::TempQueries& Queries() override { return queries; }
  host::FileSystem& Files() override { return files ? *files : target()->Files(); }
  RecordingQueries queries;
  host::FileSystem* files = nullptr;
};

// A project that forwards to a real one but can break what a sound project
// cannot: opening one saved query fails (`fail_source`), and the observation
// layer can deny having a parent of one type list (`hidden_parent_types`).
class FaultyProject : public host::ProjectDatabase {
 public:
  explicit FaultyProject(std::shared_ptr<host::ProjectDatabase> real)
      : real_(std::move(real)), data_(*this), layers_(*this) {}
  std::string fail_source;
  std::string hidden_parent_types;

  host::SettingsStore& Settings() override { return real_->Settings(); }
  host::BrowserList& Browsers() override { return real_->Browsers(); }
  host::dao::Database& Database() override { return real_->Database(); }
  host::dao::Database& DataDatabase() override { return data_; }
  host::LayerCollection& Layers() override {
    return hidden_parent_types.empty() ? real_->Layers() : layers_;
  }
  std::string GetProjectFolder(std::int32_t which) override {
    return real_->GetProjectFolder(which);
  }
  void NotifyItemChanged() override { real_->NotifyItemChanged(); }

 private:
  class Data : public host::dao::Database {
   public:
    explicit Data(FaultyProject& p) : p_(p) {}
    host::dao::Database& real() { return p_.real_->DataDatabase(); }
    void Execute(const std::string& sql) override { real().Execute(sql); }
    std::unique_ptr<host::dao::Recordset> OpenRecordset(const std::string& source,
                                                        std::int32_t type) override {
      if (!p_.fail_source.empty() && source == p_.fail_source)
        throw host::HostError(host::kErrSql, "injected failure opening " + source);
      return real().OpenRecordset(source, type);
    }
    bool TableExists(const std::string& name) override { return real().TableExists(name); }
    std::unique_ptr<host::dao::TableDef> GetTableDef(const std::string& name) override {
      return real().GetTableDef(name);
    }
    std::unique_ptr<host::dao::TableDef> CreateTableDef(const std::string& name) override {
      return real().CreateTableDef(name);
    }
    void AppendTableDef(host::dao::TableDef& table) override { real().AppendTableDef(table); }
    void CreateQueryDef(const std::string& name, const std::string& sql) override {
      real().CreateQueryDef(name, sql);
    }
    void DeleteQueryDef(const std::string& name) override { real().DeleteQueryDef(name); }
    bool QueryDefExists(const std::string& name) override { return real().QueryDefExists(name); }
    std::vector<std::string> QueryDefNames() override { return real().QueryDefNames(); }
    std::string QueryDefSql(const std::string& name) override { return real().QueryDefSql(name); }

   private:
    FaultyProject& p_;
  };
  class Layer : public host::DataLayer {
   public:
    Layer(std::shared_ptr<host::DataLayer> real, std::string hidden)
        : real_(std::move(real)), hidden_(std::move(hidden)) {}
    std::string Name() const override { return real_->Name(); }
    std::int32_t LayerType() const override { return real_->LayerType(); }
    host::LayerFieldList& Fields() override { return real_->Fields(); }
    std::shared_ptr<host::DataLayer> GetParentLayer(const std::string& codes) override {
      if (codes == hidden_) return nullptr;
      return real_->GetParentLayer(codes);
    }

   private:
    std::shared_ptr<host::DataLayer> real_;
    std::string hidden_;
  };
  class LayerList : public host::LayerCollection {
   public:
    explicit LayerList(FaultyProject& p) : p_(p) {}
    std::shared_ptr<host::DataLayer> Item(const std::string& name) override {
      auto layer = p_.real_->Layers().Item(name);
      if (p_.hidden_parent_types.empty() || layer->LayerType() != host::kLayerObservation)
        return layer;
      return std::make_shared<Layer>(layer, p_.hidden_parent_types);
    }

   private:
    FaultyProject& p_;
  };

  std::shared_ptr<host::ProjectDatabase> real_;
  Data data_;
  LayerList layers_;
};

// A file system that forwards to the real one but fails opening a path that
// ends in `fail_open`, the `fail_append`-th Append (1-based) of a file whose
// path ends in `fail_file`, or its Close when `fail_close` is set.
class FaultyFiles : public ForwardingFileSystem {
 public:
  explicit FaultyFiles(host::FileSystem& real) : ForwardingFileSystem(real) {}
  std::string fail_open;
  std::string fail_file;
  int fail_append = 0;
  bool fail_close = false;

  std::unique_ptr<host::WritableFile> NewWritableFile(const std::string& file) override {
    if (EndsWith(file, fail_open)) throw host::HostError(host::kErrPathFileAccess, "injected");
    auto real = ForwardingFileSystem::NewWritableFile(file);
    if (!EndsWith(file, fail_file)) return real;
    return std::make_unique<File>(std::move(real), *this);
  }

 private:
  // An empty `end` matches nothing.
  static bool EndsWith(const std::string& s, const std::string& end) {
    return !end.empty() && s.ends_with(end);
  }
  class File : public host::WritableFile {
   public:
    File(std::unique_ptr<host::WritableFile> real, FaultyFiles& f)
        : real_(std::move(real)), f_(f) {}
    void Append(const std::string& data) override {
      if (++appends_ == f_.fail_append) throw host::HostError(host::kErrPathFileAccess, "injected");
      real_->Append(data);
    }
    void Close() override {
      real_->Close();
      if (f_.fail_close) throw host::HostError(host::kErrPathFileAccess, "injected");
    }

   private:
    std::unique_ptr<host::WritableFile> real_;
    FaultyFiles& f_;
    int appends_ = 0;
  };
};

struct Definitions {
  std::string survey =
      "Type Line; Distance Perp; Object Cluster; Configuration d; PDist /Fld=distance; "
      "CSize /Fld=size; ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; "
      "Area /Fld=Area; Effort /Fld=\"Line length\";";
  std::string filter = "Distance /Width=50;";
  std::string model = "Method io; Stratification Stratify /LayerType=10;";
};

struct MakerRun {
  bool ok = false;
  std::vector<std::pair<std::string, int>> log;
  std::vector<SavedQuery> saved;
  std::vector<std::string> left;             // temporary queries left in the data database
  std::map<std::string, std::string> files;  // name in the command folder -> bytes
  std::string folder;
  std::string ddf_file, region_file, sample_file, obs_file;
  std::string distance_units, effort_units, area_units;
  std::map<std::string, std::string> names;  // "{suffix or layer}" -> saved name
  std::map<int, std::string> type_names;     // layer type code -> display name

  const SavedQuery* Find(const std::string& suffix) const {
    for (const auto& q : saved)
      if (q.suffix == suffix) return &q;
    return nullptr;
  }
  std::vector<std::string> Suffixes() const {
    std::vector<std::string> out;
    for (const auto& q : saved) out.push_back(q.suffix);
    return out;
  }
  // `text` with each "{X}" replaced by the saved name of the item's query X,
  // each "<N>" by the display name of layer type N and "{folder}" by the
  // command folder.
  std::string Expand(std::string text) const {
    for (std::size_t p = text.find('{'); p != std::string::npos; p = text.find('{', p)) {
      const std::size_t q = text.find('}', p);
      const std::string key = text.substr(p + 1, q - p - 1);
      const std::string value = key == "folder" ? folder : names.at(key);
      text.replace(p, q - p + 1, value);
      p += value.size();
    }
    for (std::size_t p = text.find('<'); p != std::string::npos; p = text.find('<', p)) {
      const std::size_t q = text.find('>', p);
      const std::string value = type_names.at(std::stoi(text.substr(p + 1, q - p - 1)));
      text.replace(p, q - p + 1, value);
      p += value.size();
    }
    return text;
  }
  std::vector<std::pair<std::string, int>> Problems() const {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& e : log)
      if (e.second > 0) out.push_back(e);
    return out;
  }
};

struct MakerOptions {
  bool ddf = true;
  bool dht = true;
  bool single = false;
  std::string cmd_folder;  // kept after the run; default: a temporary one
  std::function<void(CClsDataFileMaker&, const std::string& folder)> before;
  std::function<void(TestServices&, TestProject&)> install;  // break a host call
  std::function<std::shared_ptr<host::ProjectDatabase>(std::shared_ptr<host::ProjectDatabase>)>
      wrap_project;
};

// Builds the project, runs MakeFiles once and gathers what it left.
inline MakerRun RunMaker(const json& description, const Definitions& defs,
                         const MakerOptions& options = {},
                         const std::vector<std::string>& name_keys = {}) {
  auto tp = TestProject::FromJson(description);
  TestServices services(&tp->services());
  if (options.install) options.install(services, *tp);
  host::ScopedServices installed(&services);
  auto log = std::make_shared<RecordingLog>(services.NewLog());
  gLog = log;

  TempDir temp;
  const std::string folder = options.cmd_folder.empty() ? temp.path() : options.cmd_folder;
  std::shared_ptr<host::ProjectDatabase> project = tp->project();
  if (options.wrap_project) project = options.wrap_project(project);
  MakerRun run;
  {
    CClsDataFileMaker maker;
    maker.ProjectDatabase(project);
    maker.ID(kItem);
    maker.SurveyDefinition(defs.survey);
    maker.DataFilterDefinition(defs.filter);
    maker.ModelDefinitionDefinition(defs.model);
    maker.CmdFolder(folder);
    if (options.before) options.before(maker, folder);
    run.ok = maker.MakeFiles(options.ddf, options.dht, options.single);
    run.ddf_file = maker.DdfDataFile();
    run.region_file = maker.RegionDataFile();
    run.sample_file = maker.SampleDataFile();
    run.obs_file = maker.ObsDataFile();
    run.distance_units = maker.DistanceMeasureUnits();
    run.effort_units = maker.EffortMeasureUnits();
    run.area_units = maker.AreaMeasureUnits();
  }
  gLog.reset();
  run.log = log->entries;
  run.saved = services.queries.saved;
  run.folder = folder;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    run.files[entry.path().filename().string()] = ReadFile(entry.path().string());
  for (const auto& name : tp->project()->DataDatabase().QueryDefNames()) run.left.push_back(name);
  std::vector<std::string> keys = name_keys;
  for (const char* s :
       {"_Obs", "_Smp", "_SmpEffort1", "_SmpEffort2", "_SmpEffort3", "_Str", "_StrArea1",
        "_StrArea2", "_StrArea3", "_Data", "_Ddf", "_DhtRegion", "_DhtSample", "_DhtObs"})
    keys.push_back(s);
  for (const auto& layer : description["layers"]) keys.push_back(layer["name"].get<std::string>());
  for (const auto& k : keys) run.names[k] = services.queries.GetTempQueryName(k, kItem);
  for (int code : {0, 1, 10, 11, 12, 13, 14, 15, 20, 21, 22, 23, 24, 25, 30})
    run.type_names[code] = services.LayerTypes().GetLayerTypeName(code);
  return run;
}

// The small survey most tests start from: a global layer, two regions, four
// lines (line C without observations) and three objects seen by two observers.
inline json BaseDescription() {
  return json::parse(R"({
  "layers": [
    { "name": "Study area", "type": 1,
      "fields": [ { "name": "ID", "kind": "id" }, { "name": "Label", "kind": "label" },
                  { "name": "Area", "kind": "decimal", "units": "Square kilometer" } ],
      "rows": [ [1, "Whole", 100.0] ] },
    { "name": "Region", "type": 10, "parent": "Study area",
      "fields": [ { "name": "ID", "kind": "id" }, { "name": "ParentID", "kind": "link" },
                  { "name": "Label", "kind": "label" },
                  { "name": "Area", "kind": "decimal", "units": "Square kilometer" } ],
      "rows": [ [1, 1, "North", 60.0], [2, 1, "South", 40.0] ] },
    { "name": "Line transect", "type": 20, "parent": "Region",
      "fields": [ { "name": "ID", "kind": "id" }, { "name": "ParentID", "kind": "link" },
                  { "name": "Label", "kind": "label" },
                  { "name": "Line length", "kind": "decimal", "units": "Kilometer" } ],
      "rows": [ [1, 1, "A", 2.5], [2, 1, "B", 3.0], [3, 2, "C", 4.0], [4, 2, "D", 1.25] ] },
    { "name": "Observation", "type": 30, "parent": "Line transect",
      "fields": [ { "name": "ID", "kind": "id" }, { "name": "ParentID", "kind": "link" },
                  { "name": "distance", "kind": "decimal", "units": "Meter" },
                  { "name": "object", "kind": "integer" }, { "name": "observer", "kind": "integer" },
                  { "name": "detected", "kind": "integer" }, { "name": "size", "kind": "integer" },
                  { "name": "sex", "kind": "text" } ],
      "rows": [ [1, 1, 10.5, 1, 1, 1, 2, "F"], [2, 1, 10.5, 1, 2, 0, 2, "F"],
                [3, 2, 3.25, 2, 1, 1, 1, "M"], [4, 2, 3.25, 2, 2, 1, 1, "M"],
                [5, 4, 0.0, 3, 1, 0, 3, null], [6, 4, 0.0, 3, 2, 1, 3, null] ] }
  ],
  "surveys": [ { "id": 1, "name": "Survey", "definition": "Type Line;" } ],
  "data_filters": [ { "id": 1, "name": "Filter", "definition": "Distance /Width=50;" } ],
  "model_definitions": [ { "id": 1, "name": "Model", "definition": "Method io;" } ],
  "analyses": [ { "id": 7, "name": "Item", "survey": 1, "data_filter": 1, "model_definition": 1 } ]
})");
}

// The layer of `description` named `name`.
inline json& Layer(json& description, const std::string& name) {
  for (auto& layer : description["layers"])
    if (layer["name"] == name) return layer;
  throw std::runtime_error("no layer " + name);
}

// Removes the field `field` (and its column in the rows) from a layer.
inline void DropField(json& layer, const std::string& field) {
  auto& fields = layer["fields"];
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i]["name"] != field) continue;
    fields.erase(i);
    for (auto& row : layer["rows"]) row.erase(i);
    return;
  }
  throw std::runtime_error("no field " + field);
}

}  // namespace pramble::testing
