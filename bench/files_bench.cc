#include "bench/files_bench.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>

#include "bench/child_process.h"
#include "bench/figures.h"
#include "data_files/c_cls_data_file_maker.h"
#include "errors/c_mod_global.h"
#include "pramble/host/services.h"

namespace fs = std::filesystem;

namespace pramble::bench {

double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::shared_ptr<host::BrowserItem> ItemOf(host::ProjectDatabase& project, std::int32_t id) {
  return project.Browsers().Item(project.Browsers().IndexOfItem(id)).Items().Item(id);
}

namespace {

// The host's temporary queries, with the final deletion deferred so that the
// queries stay for the sqlite3 shell, and with the moments noted at which the
// data file maker saves a query, asks for a query's name (it does so just
// before it runs the query) and asks for the deletion.
class DeferredTempQueries : public host::TempQueries {
 public:
  explicit DeferredTempQueries(host::TempQueries& target) : target_(target) {}

  struct Event {
    std::string what;  // "save _Ddf", "name _DhtObs", "delete"
    Clock::time_point at;
    double cpu;
  };

  bool GetObsLayerName(std::string& obs_layer_name, const std::string& survey_definition,
                       host::LayerCollection& layers, host::Log& log) override {
    return target_.GetObsLayerName(obs_layer_name, survey_definition, layers, log);
  }
  bool MakeLayerQueries(host::ProjectDatabase& project, std::int32_t id,
                        const std::string& obs_layer_name,
                        const std::string& data_filter_definition, host::Log& log) override {
    return target_.MakeLayerQueries(project, id, obs_layer_name, data_filter_definition, log);
  }
  bool MakeTempQuery(const std::string& suffix, const std::string& jet_sql, std::int32_t id,
                     host::dao::Database& data_database, host::Log& log, bool flag) override {
    const bool ok = target_.MakeTempQuery(suffix, jet_sql, id, data_database, log, flag);
    Note("save " + suffix);
    return ok;
  }
  std::string GetTempQueryName(const std::string& suffix_or_layer, std::int32_t id) override {
    Note("name " + suffix_or_layer);
    return target_.GetTempQueryName(suffix_or_layer, id);
  }
  bool DeleteTempQueries(std::int32_t, host::dao::Database&) override {
    Note("delete");
    return true;
  }
  bool GetAreaFilterText(std::string& area_filter_text, const std::string& data_filter_definition,
                         host::Log& log) override {
    return target_.GetAreaFilterText(area_filter_text, data_filter_definition, log);
  }
  bool GetAreaSource(std::string& area_field, std::string& area_layer, double& area_factor,
                     std::string& area_units, host::ProjectDatabase& project,
                     const std::string& survey_definition, const std::string& area_filter_text,
                     const std::string& start_layer, std::int32_t strat_type,
                     std::int32_t strat_layer_type, host::Log& log) override {
    return target_.GetAreaSource(area_field, area_layer, area_factor, area_units, project,
                                 survey_definition, area_filter_text, start_layer, strat_type,
                                 strat_layer_type, log);
  }
  bool GetEffortSource(std::string& effort_field, std::string& effort_layer,
                       std::string& effort_units, host::ProjectDatabase& project,
                       const std::string& survey_definition, const std::string& start_layer,
                       std::int32_t smp_layer_type, std::int32_t strat_type,
                       std::int32_t strat_layer_type, host::Log& log) override {
    return target_.GetEffortSource(effort_field, effort_layer, effort_units, project,
                                   survey_definition, start_layer, smp_layer_type, strat_type,
                                   strat_layer_type, log);
  }

  // The first event named `what` at or after event `from`; events.size() if none.
  std::size_t Find(const std::string& what, std::size_t from = 0) const {
    for (std::size_t i = from; i < events.size(); ++i)
      if (events[i].what == what) return i;
    return events.size();
  }

  std::vector<Event> events;

 private:
  void Note(const std::string& what) { events.push_back({what, Clock::now(), CpuSeconds()}); }
  host::TempQueries& target_;
};

class DeferringServices : public host::ServicesWrapper {
 public:
  explicit DeferringServices(host::Services* target)
      : ServicesWrapper(target), queries_(target->Queries()) {}
  host::TempQueries& Queries() override { return queries_; }
  DeferredTempQueries& deferred() { return queries_; }

 private:
  DeferredTempQueries queries_;
};

// A data file maker on the benchmark item, its definitions read.
bool PrepareMaker(CClsDataFileMaker& maker, OpenProject& p, host::Services& services) {
  const auto item = ItemOf(*p.project, kItem);
  std::string survey, filter, model;
  host::DefinitionRetrieval& definitions = services.Definitions();
  if (!definitions.GetSurveyDefinition(survey, *p.project, *item, *gLog) ||
      !definitions.GetDataFilterDefinition(filter, *p.project, *item, *gLog) ||
      !definitions.GetModelDefinitionDefinition(model, *p.project, *item, *gLog)) {
    std::cerr << "cannot read the item's definitions:\n" << gLog->Contents() << "\n";
    return false;
  }
  maker.ProjectDatabase(p.project);
  maker.ID(kItem);
  maker.SurveyDefinition(survey);
  maker.DataFilterDefinition(filter);
  maker.ModelDefinitionDefinition(model);
  return true;
}

}  // namespace

int WriteDdf(const std::string& dir, const std::string& file) {
  OpenProject p(dir);
  DeferringServices services(&p.services);
  host::ScopedServices installed(&services);
  gLog = services.NewLog();
  CClsDataFileMaker maker;
  if (!PrepareMaker(maker, p, services)) return 1;
  maker.CmdFolder(fs::path(file).parent_path().string());
  maker.DdfDataFile(file);
  // The detection-function file only: the double-observer configuration.
  if (!maker.MakeFiles(true, false, false)) {
    std::cerr << "MakeFiles failed:\n" << gLog->Contents() << "\n";
    return 1;
  }
  // From the saving of the last query to the deletion: the writing of the
  // file (opening the saved query, running it, writing the lines).
  const auto& q = services.deferred();
  const std::size_t saved = q.Find("save _Ddf"), done = q.Find("delete", saved);
  if (done >= q.events.size()) {
    std::cerr << "the data file maker did not save '_Ddf' and then delete the queries\n";
    return 1;
  }
  std::cout << "seconds=" << Seconds(q.events[saved].at, q.events[done].at) << "\n"
            << "cpu_seconds=" << q.events[done].cpu - q.events[saved].cpu << "\n"
            << "query=" << services.Queries().GetTempQueryName("_Ddf", kItem) << "\n"
            << "bytes=" << fs::file_size(file) << "\n";
  gLog.reset();
  return 0;
}

int WriteFiles(const std::string& dir, const std::string& folder) {
  OpenProject p(dir);
  DeferringServices services(&p.services);
  host::ScopedServices installed(&services);
  gLog = services.NewLog();
  CClsDataFileMaker maker;
  if (!PrepareMaker(maker, p, services)) return 1;
  maker.CmdFolder(folder);
  const auto start = Clock::now();
  if (!maker.MakeFiles(true, true, false)) {
    std::cerr << "MakeFiles failed:\n" << gLog->Contents() << "\n";
    return 1;
  }
  // The steps, each ending where the maker asks for the next query's name:
  // the queries saved, the check that every object lies in one place (two
  // row counts of _DhtObs), then each file from its query's run to its end.
  const auto& q = services.deferred();
  const std::size_t saved = q.Find("save _DhtObs"), check = q.Find("name _DhtObs", saved),
                    ddf = q.Find("name _Ddf", check), region = q.Find("name _DhtRegion", ddf),
                    sample = q.Find("name _DhtSample", region),
                    obs = q.Find("name _DhtObs", sample), done = q.Find("delete", obs);
  if (done >= q.events.size()) {
    std::cerr << "the data file maker's steps were not the expected ones\n";
    return 1;
  }
  auto at = [&](std::size_t i) { return q.events[i].at; };
  std::cout << "seconds=" << Seconds(start, at(done)) << "\n"
            << "step_queries=" << Seconds(start, at(check)) << "\n"
            << "step_check=" << Seconds(at(check), at(ddf)) << "\n"
            << "step_ddf=" << Seconds(at(ddf), at(region)) << "\n"
            << "step_region=" << Seconds(at(region), at(sample)) << "\n"
            << "step_sample=" << Seconds(at(sample), at(obs)) << "\n"
            << "step_obs=" << Seconds(at(obs), at(done)) << "\n";
  for (const char* suffix : {"_Ddf", "_DhtRegion", "_DhtSample", "_DhtObs"})
    std::cout << "query" << suffix << "=" << services.Queries().GetTempQueryName(suffix, kItem)
              << "\n";
  gLog.reset();
  return 0;
}

int DropQueries(const std::string& dir) {
  OpenProject p(dir);
  host::ScopedServices installed(&p.services);
  return p.services.Queries().DeleteTempQueries(kItem, p.project->DataDatabase()) ? 0 : 1;
}

namespace {

const char* const kSteps[] = {"queries", "check", "ddf", "region", "sample", "obs"};
const char* const kQueries[] = {"_Ddf", "_DhtRegion", "_DhtSample", "_DhtObs"};

std::string Fixed(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

FilesRun MeasureFiles(const std::string& self, const std::string& project,
                      const std::vector<std::string>& shell, const std::string& workdir,
                      double makefiles_s, double makefiles_cpu) {
  FilesRun run;
  run.makefiles_s = makefiles_s;
  run.makefiles_cpu = makefiles_cpu;
  const std::string folder = workdir + "/files";
  fs::create_directories(folder);
  ChildResult w = RunChild({self, "writefiles", project, folder});
  for (const char* step : kSteps)
    run.steps.emplace_back(step, NumberValue(w, std::string("step_") + step));
  for (const char* suffix : kQueries) {
    std::vector<std::string> argv = shell;
    argv.push_back(project + "/data.db");
    argv.push_back("SELECT * FROM \"" + w.values["query" + std::string(suffix)] + "\"");
    ChildResult s = RunChild(argv, folder + "/sqlite3" + suffix + ".txt");
    run.export_s += s.wall_seconds;
    run.export_cpu += s.cpu_seconds;
    run.export_rss = std::max(run.export_rss, static_cast<double>(s.max_rss_kb));
  }
  RunChild({self, "dropqueries", project});
  fs::remove_all(folder);
  return run;
}

bool PrintFilesTable(std::ostream& out, const std::vector<std::int64_t>& rows,
                     const std::vector<std::vector<FilesRun>>& runs) {
  out << "\nAll four data files: MakeFiles end to end beside the sqlite3 shell exporting the four "
         "saved queries (_Ddf, _DhtRegion, _DhtSample, _DhtObs; one shell process each, summed)\n"
         "     rows  MakeFiles s  sqlite3 s   ratio  MakeFiles  sqlite3    CPU  sqlite3 MB\n"
         "                                              CPU s    CPU s  ratio\n";
  double ratio = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::map<std::string, std::vector<double>> v;
    for (const FilesRun& r : runs[k]) {
      v["m"].push_back(r.makefiles_s), v["mc"].push_back(r.makefiles_cpu);
      v["e"].push_back(r.export_s), v["ec"].push_back(r.export_cpu);
      v["rss"].push_back(r.export_rss / 1024);
    }
    ratio = Median(v["m"]) / Median(v["e"]);
    char line[160];
    std::snprintf(line, sizeof line, "%9lld %12.3f %10.3f %7.2f %10.3f %8.3f %6.2f %11.1f\n",
                  static_cast<long long>(rows[k]), Median(v["m"]), Median(v["e"]), ratio,
                  Median(v["mc"]), Median(v["ec"]), Median(v["mc"]) / Median(v["ec"]),
                  Median(v["rss"]));
    out << line;
  }
  out << "Where CClsDataFileMaker::MakeFiles (all four files, queries kept) spends its time, "
         "seconds (median)\n     rows";
  for (const char* step : kSteps) {
    char cell[16];
    std::snprintf(cell, sizeof cell, "  %10s", step);
    out << cell;
  }
  out << "\n";
  for (std::size_t k = 0; k < rows.size(); ++k) {
    char head[32];
    std::snprintf(head, sizeof head, "%9lld", static_cast<long long>(rows[k]));
    out << head;
    for (std::size_t s = 0; s < std::size(kSteps); ++s) {
      std::vector<double> v;
      for (const FilesRun& r : runs[k]) v.push_back(r.steps[s].second);
      out << Fixed("  %10.3f", Median(v));
    }
    out << "\n";
  }
  const bool met = !rows.empty() && ratio <= 1.5;
  if (!rows.empty())
    out << "  MakeFiles within 1.5x the four-query sqlite3 export: " << (met ? "met" : "MISSED")
        << " (ratio " << Fixed("%.2f", ratio) << " at " << rows.back() << " rows)\n";
  return met;
}

}  // namespace pramble::bench
