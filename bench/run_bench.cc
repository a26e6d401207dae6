// Whole runs: for each size, a simulated survey of that many objects (two
// observation rows each, bench_project.cc) becomes a project with two items,
// the example's io item (ID 1: hn ~1, mr ~distance, goodness of fit, plots,
// density by region) and the same with method ds (ID 2), and each item is run
// once with `pramble run`, as a child process of this program.
//
// Two figures of memory are taken. wait4 on the `pramble run` child answers
// the largest peak resident memory among that process and the descendants it
// waited for, R among them, so it is the larger of the host's and R's. R's
// own figures come from this program standing in for R: the project's
// setting R/EnginePath names a link called R to this program, which starts
// the real R, waits for it with wait4 and writes R's wall time, CPU time and
// peak resident memory to a file (RWrapper).
#include "bench/figures.h"
#include "bench/run_bench.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_project.h"
#include "bench/child_process.h"

namespace fs = std::filesystem;

namespace pramble::bench {
namespace {

constexpr const char* kFiguresVariable = "PRAMBLE_BENCH_R_FIGURES";

struct RunFigures {
  std::int64_t objects = 0;
  std::string method;
  double run_s = 0, run_rss_kb = 0;
  double r_s = 0, r_cpu_s = 0, r_rss_kb = 0;
  int status = -1;
  std::string status_text;
};

// The description that bench_project.cc wrote, with a second item (method
// ds, otherwise the first's definition) and the settings that make every
// run use this program as R and leave the package as the first run
// installed it.
void AddDsItemAndSettings(const std::string& description, const std::string& r_link) {
  nlohmann::json d;
  {
    std::ifstream in(description);
    in >> d;
    if (!in) throw std::runtime_error("cannot read " + description);
  }
  d["settings"]["R"] = {{"EnginePath", r_link}, {"ForceLoadLibrary", false}};
  d["model_definitions"].push_back(
      {{"id", 2},
       {"name", "ds, half-normal, stratified"},
       {"definition",
        "Method ds; DSModel /Method=cds /Key=hn /Formula=1; Control /Showit=0; "
        "Diagnostics /Plot=T /GOF=T; Detection T; Density T /VarFlag=1 /PrintOptions=1; "
        "Stratification Stratify /LayerType=10;"}});
  d["analyses"].push_back({{"id", 2},
                           {"name", "ds half-normal, by region"},
                           {"survey", 1},
                           {"data_filter", 1},
                           {"model_definition", 2}});
  std::ofstream out(description, std::ios::binary | std::ios::trunc);
  out << d.dump(2) << '\n';
  if (!out) throw std::runtime_error("cannot write " + description);
}

std::map<std::string, std::string> ReadFigures(const std::string& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

// The item's status number and text from `pramble status DIR ITEM`.
void ReadStatus(const RunBenchOptions& o, const std::string& project, int item, RunFigures& f) {
  const std::string file = o.workdir + "/status.txt";
  RunChild({o.pramble, "status", project, std::to_string(item)}, file);
  std::ifstream in(file);
  std::string id, name, status;
  std::getline(in, id, '\t');
  std::getline(in, name, '\t');
  std::getline(in, status, '\t');
  std::getline(in, f.status_text, '\t');
  f.status = std::stoi(status);
}

RunFigures RunItem(const RunBenchOptions& o, const std::string& project, int item,
                   const std::string& figures_file) {
  RunFigures f;
  fs::remove(figures_file);
  const ChildResult run =
      RunChild({o.pramble, "run", project, std::to_string(item)}, o.workdir + "/run.log");
  f.run_s = run.wall_seconds;
  f.run_rss_kb = static_cast<double>(run.max_rss_kb);
  ChildResult r;
  r.values = ReadFigures(figures_file);
  f.r_s = NumberValue(r, "r_seconds");
  f.r_cpu_s = NumberValue(r, "r_cpu_seconds");
  f.r_rss_kb = NumberValue(r, "r_max_rss_kb");
  ReadStatus(o, project, item, f);
  return f;
}

}  // namespace

void MeasureRuns(const RunBenchOptions& o, std::ostream& out) {
  const std::string r_link = o.workdir + "/R";
  const std::string figures_file = o.workdir + "/r-figures.txt";
  fs::remove(r_link);
  fs::create_symlink(o.self, r_link);
  // A library of the work folder: the first run installs the package that
  // this build made, whatever another library holds.
  ::setenv("PRAMBLE_R_LIBRARY", (o.workdir + "/R-library").c_str(), 1);
  ::setenv(kFiguresVariable, figures_file.c_str(), 1);

  std::vector<RunFigures> all;
  bool first = true;
  for (std::int64_t objects : o.objects) {
    const std::string tag = std::to_string(objects);
    const std::string source = o.workdir + "/run-survey-" + tag;
    const std::string project = o.workdir + "/run-project-" + tag;
    std::cerr << "[bench] pramble run on " << objects << " objects\n";
    fs::create_directories(source);
    WriteSurveyDescription(source, objects * 2, 7);
    AddDsItemAndSettings(source + "/project.json", r_link);
    fs::remove_all(project);
    RunChild({o.pramble, "create", project, "--from", source + "/project.json"},
             o.workdir + "/create.log");
    if (first) RunItem(o, project, 2, figures_file);  // installs the package
    first = false;
    for (int item : {1, 2}) {
      RunFigures f = RunItem(o, project, item, figures_file);
      f.objects = objects;
      f.method = item == 1 ? "io" : "ds";
      all.push_back(f);
    }
    if (!o.keep) {
      fs::remove_all(project);
      fs::remove_all(source);
    }
  }
  if (!o.keep) fs::remove_all(o.workdir + "/R-library");

  out << "\nWhole runs (pramble run of one item: io hn ~1 with mr ~distance, or ds hn ~1; "
         "goodness of fit, plots, density by region; one run each)\n";
  const int widths[] = {8, 6, 7, 11, 8, 9, 11, 12};
  const std::vector<std::string> head = {"objects", "method", "run s", "run peak MB", "R s",
                                         "R CPU s", "R peak MB", "status"};
  auto row = [&](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      std::string c = cells[i];
      if (static_cast<int>(c.size()) < widths[i]) c = std::string(widths[i] - c.size(), ' ') + c;
      out << c << (i + 1 < cells.size() ? "  " : "\n");
    }
  };
  row(head);
  for (const RunFigures& f : all)
    row({std::to_string(f.objects), f.method, Fixed(f.run_s, 2), Fixed(f.run_rss_kb / 1024, 1),
         Fixed(f.r_s, 2), Fixed(f.r_cpu_s, 2), Fixed(f.r_rss_kb / 1024, 1),
         std::to_string(f.status) + " " + f.status_text});
  out << "(run: the pramble run process, its peak the larger of its own and R's (wait4); R: the "
         "R process alone, from wait4 of this program standing in for R)\n";
  const RunFigures* largest_io = nullptr;
  for (const RunFigures& f : all)
    if (f.method == "io" && (largest_io == nullptr || f.objects > largest_io->objects))
      largest_io = &f;
  if (largest_io != nullptr)
    out << "  io fit on " << largest_io->objects << " objects finishes with status 1: "
        << (largest_io->status == 1 ? "met" : "MISSED") << " (status " << largest_io->status
        << " " << largest_io->status_text << ")\n";
}

bool StartedAsR(const char* argv0) {
  return argv0 != nullptr && fs::path(argv0).filename() == "R";
}

int RWrapper(int argc, char** argv) {
  const char* real = std::getenv("PRAMBLE_BENCH_R");
  std::string r = real != nullptr && *real != '\0' ? real : "/usr/bin/R";
  std::vector<char*> args(argv, argv + argc);
  args[0] = r.data();
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return 126;
  if (pid == 0) {
    ::execv(r.c_str(), args.data());
    std::fprintf(stderr, "cannot start %s: %s\n", r.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) return 126;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (const char* file = std::getenv(kFiguresVariable); file != nullptr && *file != '\0') {
    std::ofstream out(file, std::ios::trunc);
    out << "r_seconds=" << wall << "\nr_cpu_seconds=" << cpu << "\nr_max_rss_kb=" << usage.ru_maxrss
        << "\n";
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace pramble::bench
