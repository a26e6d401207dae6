// pramble demo: the main job on a simulated survey whose truth is known.
// It makes a project from the demo survey (sqlhost/demo), runs every analysis
// item with R, in parallel (parallel_run.h), and prints each item's final status and
// its estimates beside the truth. What the demo simulates and how to read
// its table is described in docs/demo.md. Its entry is in command_table.cc.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "pramble/engine_interface.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/report.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/cli/parallel_run.h"
#include "sqlhost/cli/table_printer.h"
#include "sqlhost/demo/demo_project.h"
#include "sqlhost/demo/survey_simulator.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/file_names.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/r_library_lock.h"
#include "sqlhost/util/engine_utilities.h"
#include "sqlhost/util/shipped_files.h"
#include "sqlhost/util/text_log.h"

namespace pramble::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kDefaultFolder[] = "pramble-demo";
// The folder inside the demo's project that keeps the survey as files.
constexpr char kSurveyFolder[] = "demo-survey";

// Why `dir` must not be replaced; nullopt when it may go. A folder may go
// when it is empty, or when it is a project that an earlier `pramble demo`
// made (it carries the demo's mark), whether or not it has been run since.
std::optional<std::string> WhyNotReplace(const fs::path& dir) {
  std::error_code ec;
  const fs::file_status link = fs::symlink_status(dir, ec);
  if (fs::is_symlink(link)) return "it is a symbolic link";
  if (!fs::is_directory(link)) return "it is not a folder";

  const fs::path here = fs::current_path(ec);
  const fs::path target = fs::weakly_canonical(dir, ec);
  if (!here.empty() && !target.empty()) {
    const auto [t, h] = std::mismatch(target.begin(), target.end(), here.begin(), here.end());
    if (t == target.end()) return "it holds the current folder";
  }
  if (fs::is_empty(dir, ec)) return std::nullopt;

  std::optional<host::Value> mark;
  try {
    mark = sqlhost::Project::Open(dir.string())
               ->GetSettingValue(demo::kDemoMarkSection, demo::kDemoMarkKey);
  } catch (const std::exception& e) {
    return std::string("it is neither empty nor a project made by pramble demo (") + e.what() +
           ")";
  }
  if (!mark) return "it is a project that pramble demo did not make";
  return std::nullopt;
}

// Whether the first run should install the quox package even though a copy
// is installed: only when the copy in the library that R is given is older
// than this build's package archive. When no copy is installed the command
// file's own guard installs it. nullopt when the archive is not found (the
// engine's default then holds: the first run installs).
std::optional<bool> ForceInstall(sqlhost::Project& project, const std::string& library) {
  sqlhost::QuoxEngineUtilities utilities;
  sqlhost::TextLog log;
  const std::string archive = utilities.GetEngineLibrary("Quox", project, log, true);
  struct stat archive_st {}, installed_st {};
  const bool have_archive = !archive.empty() && ::stat(archive.c_str(), &archive_st) == 0;
  if (!have_archive) return std::nullopt;
  const bool installed =
      !library.empty() &&
      ::stat(sqlhost::QuoxDescriptionFile(library).c_str(), &installed_st) == 0;
  return installed && installed_st.st_mtime < archive_st.st_mtime;
}

std::string Seconds(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f s", seconds);
  return buf;
}

std::string Seconds(Clock::duration d) { return Seconds(std::chrono::duration<double>(d).count()); }

std::string ShortLabel(const demo::DemoAnalysis& a) {
  return a.method + ", " + (a.binned ? "10 m bands" : "exact") + ", " +
         (a.stratified ? "by region" : "whole area");
}

// The last `count` lines of `text`, each indented.
std::string Tail(const std::string& text, std::size_t count) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  std::string out;
  for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
    out += "      " + lines[i] + "\n";
  }
  return out;
}

struct ItemOutcome {
  const demo::DemoAnalysis* analysis = nullptr;
  std::int32_t status = -1;
  std::map<std::int32_t, float> stats;
};

// One row of the table: an item's estimate of the clusters in a region
// (region 0: the whole area) beside the truth.
struct Row {
  std::string item, analysis, region, estimate, interval, truth, holds;
};

void PrintTable(std::ostream& out, const std::vector<ItemOutcome>& outcomes,
                const demo::SimulatedSurvey& survey) {
  const demo::SurveyDesign& design = survey.design;
  std::vector<Row> rows;
  std::vector<std::string> notes;
  auto note_number = [&](const std::string& note) {
    const auto it = std::find(notes.begin(), notes.end(), note);
    if (it != notes.end()) return static_cast<std::size_t>(it - notes.begin()) + 1;
    notes.push_back(note);
    return notes.size();
  };
  const std::string chance_note =
      "the interval misses the truth. A 95% interval misses it in about one survey in 20 even "
      "when the model holds, and these models only approximate the survey's detection "
      "functions (docs/demo.md gives the bias each one is expected to have); "
      "'pramble demo --seed N' simulates another survey";

  for (const ItemOutcome& o : outcomes) {
    const demo::DemoAnalysis& a = *o.analysis;
    const std::optional<std::string> bias = demo::ExpectedBiasNote(a, design);
    std::vector<std::size_t> regions;
    if (a.stratified) {
      for (std::size_t r = 1; r <= design.regions.size(); ++r) regions.push_back(r);
    }
    regions.push_back(0);
    bool first = true;
    for (const std::size_t r : regions) {
      Row row;
      row.item = first ? std::to_string(a.id) : "";
      row.analysis = first ? ShortLabel(a) : "";
      first = false;
      row.region = r == 0 ? "Total" : design.regions[r - 1].label;
      const double truth = static_cast<double>(r == 0 ? survey.truth.total.clusters
                                                      : survey.truth.regions[r - 1].clusters);
      row.truth = WithThousands(truth);
      auto stat = [&](sqlhost::StatQuantity quantity) {
        return o.stats.find(sqlhost::DensityStatCode(sqlhost::StatKind::kClusterAbundance,
                                                     static_cast<std::int32_t>(r), quantity));
      };
      const auto estimate = stat(sqlhost::StatQuantity::kEstimate),
                 lcl = stat(sqlhost::StatQuantity::kLcl), ucl = stat(sqlhost::StatQuantity::kUcl);
      if (estimate == o.stats.end() || lcl == o.stats.end() || ucl == o.stats.end()) {
        row.estimate = "-";
        row.interval = "-";
        row.holds = "no estimate (status " + std::to_string(o.status) + ")";
        rows.push_back(row);
        continue;
      }
      row.estimate = WithThousands(estimate->second);
      row.interval = WithThousands(lcl->second) + " - " + WithThousands(ucl->second);
      const bool holds = lcl->second <= truth && truth <= ucl->second;
      row.holds = holds ? "yes" : "no";
      if (bias) {
        row.holds += " [" + std::to_string(note_number(*bias)) + "]";
      } else if (!holds) {
        row.holds += " [" + std::to_string(note_number(chance_note)) + "]";
      }
      rows.push_back(row);
    }
  }

  TablePrinter table({{"item", 4, Align::kRight},
                      {"analysis"},
                      {"region", 6},
                      {"estimate", 8, Align::kRight},
                      {"95% interval", 0, Align::kRight},
                      {"truth", 6, Align::kRight},
                      {"interval holds truth"}});
  for (const Row& r : rows)
    table.AddRow({r.item, r.analysis, r.region, r.estimate, r.interval, r.truth, r.holds});
  out << "Estimated number of clusters beside the truth:\n";
  table.Print(out, OutputFormat::kText);
  if (!notes.empty()) {
    out << "Notes:\n";
    for (std::size_t i = 0; i < notes.size(); ++i) {
      out << "  [" << i + 1 << "] " << notes[i] << ".\n";
    }
  }
}

void PrintSurvey(std::ostream& out, const demo::SimulatedSurvey& survey) {
  const demo::SurveyDesign& design = survey.design;
  double area = 0, length = 0;
  std::string regions;
  for (std::size_t r = 0; r < design.regions.size(); ++r) {
    const demo::RegionDesign& region = design.regions[r];
    area += region.area_km2;
    double region_length = 0;
    for (const double l : region.transect_km) region_length += l;
    length += region_length;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s%s %g km2 (%zu transects, %g km)", r ? ", " : "",
                  region.label.c_str(), region.area_km2, region.transect_km.size(),
                  std::round(region_length * 10) / 10);
    regions += buf;
  }
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "Simulated survey (seed %llu): %g km2 in %zu regions: %s.\n"
                "  %g clusters per km2: %s clusters (%s individuals); half-normal detection, "
                "sigma %g m,\n"
                "  p(0) %.2f for observer 1 and %.2f for observer 2, searched to %g m, "
                "truncated at %g m.\n"
                "  %lld clusters in the searched strips; observer 1 saw %lld, observer 2 %lld, "
                "both %lld.\n",
                static_cast<unsigned long long>(design.seed), area, design.regions.size(),
                regions.c_str(), design.clusters_per_km2,
                WithThousands(static_cast<double>(survey.truth.total.clusters)).c_str(),
                WithThousands(static_cast<double>(survey.truth.total.individuals)).c_str(),
                design.sigma_m, design.p0_observer1, design.p0_observer2, design.searched_m,
                demo::kTruncationM, static_cast<long long>(survey.clusters_searched),
                static_cast<long long>(survey.detected_by_1),
                static_cast<long long>(survey.detected_by_2),
                static_cast<long long>(survey.detected_by_both));
  out << buf;
}

int RunDemo(const std::string& dir_arg, std::uint64_t seed, unsigned jobs) {
  const Clock::time_point start = Clock::now();
  const fs::path dir(dir_arg);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir, ec))) {
    if (const std::optional<std::string> why = WhyNotReplace(dir)) {
      std::cerr << "pramble demo: will not replace '" << dir_arg << "': " << *why
                << ". Name another folder for the demo: pramble demo OTHER-FOLDER\n";
      return kExitCannotCreate;
    }
    fs::remove_all(dir, ec);
    if (ec) {
      std::cerr << "pramble demo: cannot remove the old demo folder '" << dir_arg
                << "': " << ec.message() << "\n";
      return kExitBadInput;
    }
  }

  const demo::SimulatedSurvey survey = demo::SimulateSurvey(demo::DemoSurveyDesign(seed));
  const demo::DemoProject demo_project = demo::MakeDemoProject(survey);
  try {
    sqlhost::CreateProjectFromJson(dir_arg, nlohmann::json::parse(demo_project.description.dump()),
                                   "");
  } catch (const sqlhost::DescriptionError& e) {
    std::cerr << "pramble demo: the demo's project description is refused: " << e.what()
              << "\n";
    return kExitComponentError;
  }
  auto project = sqlhost::Project::Open(dir_arg);
  const std::string folder = project->folder();
  const std::string survey_folder = folder + "/" + kSurveyFolder;
  fs::create_directory(survey_folder, ec);
  try {
    if (ec) throw std::runtime_error("cannot make '" + survey_folder + "': " + ec.message());
    demo::WriteDemoSurveyFiles(survey_folder, survey, demo_project);
  } catch (const std::runtime_error& e) {
    std::cerr << "pramble demo: " << e.what() << "\n";
    return kExitBadInput;
  }

  std::cout << "pramble demo: a double-observer line-transect survey with known truth\n\n";
  PrintSurvey(std::cout, survey);
  std::cout << "\nProject: " << folder << " (the survey as files: " << survey_folder << ")\n";

  const std::string install_library = sqlhost::RInstallLibrary();
  if (const std::optional<bool> force = ForceInstall(*project, install_library)) {
    project->SetSettingValue("R", "ForceLoadLibrary", host::Value{*force});
  }
  const std::string library = install_library.empty() ? "R's user library" : install_library;
  if (sqlhost::NextRunInstallsQuox(*project, install_library)) {
    std::cout << "The first run installs the R package quox into " << library << ".\n";
  } else {
    std::cout << "R package quox: installed in " << library << ".\n";
  }

  const std::size_t count = demo_project.analyses.size();
  std::cout << "\nRunning " << count << " analysis items with R:" << std::endl;
  std::vector<ParallelItem> items;
  for (const demo::DemoAnalysis& a : demo_project.analyses) items.push_back({a.id, a.name});
  ParallelRunOptions options;
  options.jobs = jobs;
  options.command = "demo";
  options.live = ::isatty(STDERR_FILENO) == 1;
  const ParallelRunResult run = RunInParallel(dir_arg, items, options, std::cerr);

  std::vector<ItemOutcome> outcomes;
  std::size_t width = 0;
  for (const demo::DemoAnalysis& a : demo_project.analyses) width = std::max(width, a.name.size());
  for (std::size_t i = 0; i < count; ++i) {
    const demo::DemoAnalysis& a = demo_project.analyses[i];
    if (!run.items[i].started) continue;
    ItemOutcome outcome;
    outcome.analysis = &a;
    const std::optional<sqlhost::ItemInfo> item = project->FindItem(a.id);
    outcome.status = item ? item->status : -1;
    for (const sqlhost::ItemStat& stat : project->ItemStats(a.id)) {
      outcome.stats[stat.code] = stat.value;
    }
    const std::size_t plots = sqlhost::PlotFilesOf(folder, a.id).size();
    std::cout << "  " << Pad(std::to_string(a.id), 2, true) << "  " << Pad(a.name, width) << "  "
              << sqlhost::Project::StatusText(outcome.status) << " (status " << outcome.status
              << ", " << Seconds(run.items[i].seconds) << ", " << plots
              << (plots == 1 ? " plot file)\n" : " plot files)\n");
    if (!run.stopped && outcome.status != kStatusFinished &&
        outcome.status != kStatusFinishedWithWarnings) {
      std::cerr << "    the end of the run's log:\n"
                << Tail(sqlhost::StoredResultText(*project, a.id, "Log").value_or(""), 15);
    }
    outcomes.push_back(outcome);
  }
  if (run.stopped) std::cout << "Stopped: the remaining items are not run.\n";

  std::cout << "\n";
  PrintTable(std::cout, outcomes, survey);
  // The report on every item, beside the project.
  const std::string report = folder + "/report.html";
  std::string report_line = report + " (open it in a browser)";
  try {
    std::vector<std::int32_t> ids;
    for (const demo::DemoAnalysis& a : demo_project.analyses) ids.push_back(a.id);
    std::ofstream out(report, std::ios::binary | std::ios::trunc);
    out << ReportHtml(*project, ids, true);
    out.close();
    if (!out) report_line = "not written: cannot write " + report;
  } catch (const std::exception& e) {
    report_line = std::string("not written: ") + e.what();
  }
  std::cout << "\nReport:                " << report_line << "\n"
            << "Compare the models:    pramble compare " << dir_arg
            << "   (estimates of an item: pramble estimates " << dir_arg << " ITEM)\n";
  std::cout << "Results of an item:    pramble results " << dir_arg << " ITEM"
            << "   (log: pramble log " << dir_arg << " ITEM; statistics: pramble stats "
            << dir_arg << " ITEM)\n"
            << "Plots:                 " << folder
            << "/ddf.ITEM.NN.png (detection probability, one file per page) and qq.ITEM.01.png "
               "(Q-Q plot, exact distances)\n"
            << "How to read all this:  " << sqlhost::ShippedDocsFolder() << "/demo.md\n"
            << "\nDemo took " << Seconds(Clock::now() - start) << ".\n";
  return run.exit_code;
}

}  // namespace

void DemoArgs::Declare(CLI::App& cmd, DemoArgs& args) {
  args.dir = kDefaultFolder;
  args.seed = demo::kDemoSeed;
  cmd.add_option("DIR", args.dir, "The demo's project folder.")->capture_default_str();
  cmd.add_option("--seed", args.seed, "Simulate another survey with this seed.")
      ->capture_default_str();
  cmd.add_option("-j,--jobs", args.jobs,
                 "Run at most N items at a time (default: the number of cores).")
      ->type_name("N")
      ->check(CLI::Range(1u, 4096u));
}

int Demo(const DemoArgs& args) {
  return RunDemo(args.dir, args.seed, args.jobs.value_or(DefaultJobs()));
}

}  // namespace pramble::cli
