// pramble_bench: the speed and memory figures of the component on large
// projects, and the time RunItem takes to start R. `make bench` runs it with
// no arguments; the figures and how they are taken are in docs/performance.md.
//
//   pramble_bench [--sizes 10000,100000,1000000] [--repeats 3] [--runs 7]
//                 [--workdir DIR] [--sqlite3 PATH] [--sqlite3-extension PATH]
//                 [--example PROJECT.json] [--objects 1000,10000,100000]
//                 [--pramble PATH] [--keep]
//
// Every measurement runs in a fresh child process (this program again, with
// one of the subcommands below), so that the peak memory that wait4 reports is
// that measurement's own:
//
//   describe FOLDER ROWS        writes a survey description with CSV files
//   create DIR DESCRIPTION      creates a project from it (the host's create)
//   makefiles DIR               CClsDatabaseInterface::MakeFiles, debug mode
//   writeddf DIR FILE           the detection-function data file alone; the
//                               item's temporary queries are left in place
//   writefiles DIR FOLDER       all four data files, the queries left in place
//   dropqueries DIR             deletes them
//
// (The data file subcommands are in files_bench.cc.)
//   runitem DIR                 RunItem until R is started, then stops the run
//   creation [OPTIONS]          only the creation beside sqlite3 .import (create_bench.h)
//
// Started under the name R it stands in for R in the whole runs of
// run_bench.cc (`--objects`; none with `--objects 0`).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/bench_project.h"
#include "bench/child_process.h"
#include "bench/create_bench.h"
#include "bench/run_bench.h"
#include "bench/files_bench.h"
#include "database_interface/c_cls_database_interface.h"
#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/project.h"
#include "pramble/host/r_process.h"
#include "sqlhost/runner/event_loop.h"
#include "pramble/host/services.h"
#include "sqlhost/services/default_services.h"
#include "pramble/quox_n_engine_interface.h"

namespace fs = std::filesystem;

namespace pramble::bench {
namespace {

std::uintmax_t FolderBytes(const std::string& folder) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

// ---------------------------------------------------------------------------
// Subcommands (one measurement each, in a child process).

int Describe(const std::string& folder, std::int64_t rows) {
  fs::create_directories(folder);
  const auto start = Clock::now();
  const SurveyShape shape = WriteSurveyDescription(folder, rows, 7);
  std::cout << "seconds=" << Seconds(start, Clock::now()) << "\n"
            << "rows=" << shape.observation_rows << "\nobjects=" << shape.objects
            << "\ntransects=" << shape.transects << "\n";
  return 0;
}

int Create(const std::string& dir, const std::string& description) {
  const auto start = Clock::now();
  sqlhost::CreateProject(dir, description);
  std::cout << "seconds=" << Seconds(start, Clock::now()) << "\n";
  return 0;
}

int MakeFiles(const std::string& dir) {
  OpenProject p(dir);
  host::ScopedServices installed(&p.services);
  gLog = p.services.NewLog();
  CClsDatabaseInterface database_interface;
  database_interface.ProjectDatabase(p.project);
  database_interface.BrowserItem(ItemOf(*p.project, kItem));
  database_interface.DebugMode(true);

  const auto start = Clock::now();
  const double start_cpu = CpuSeconds();
  const bool ok = database_interface.MakeFiles();
  const double seconds = Seconds(start, Clock::now());
  const double cpu_seconds = CpuSeconds() - start_cpu;

  const std::string folder = database_interface.CmdFolder();
  if (!ok) {
    std::cerr << "MakeFiles failed:\n" << gLog->Contents() << "\n";
    if (!folder.empty()) fs::remove_all(folder);
    return 1;
  }
  std::cout << "seconds=" << seconds << "\ncpu_seconds=" << cpu_seconds
            << "\nbytes=" << FolderBytes(folder) << "\n";
  fs::remove_all(folder);
  gLog.reset();
  return 0;
}

// The process runner, with the moment Run is called and the moment it has
// started the process noted.
class TimedRProcess : public host::RProcess {
 public:
  explicit TimedRProcess(std::unique_ptr<host::RProcess> target) : target_(std::move(target)) {}
  std::string GetEnginePath(host::ProjectDatabase& project) override {
    return target_->GetEnginePath(project);
  }
  void Run(const std::string& engine_path, const std::string& folder,
           const std::string& command_file, const std::string& log_file) override {
    run_called = Clock::now();
    target_->Run(engine_path, folder, command_file, log_file);
    run_returned = Clock::now();
  }
  void StopRun() override { target_->StopRun(); }
  std::string CommandLine() const override { return target_->CommandLine(); }
  std::string ErrorMessage() const override { return target_->ErrorMessage(); }
  void SetRunFinishedHandler(RunFinishedHandler handler) override {
    target_->SetRunFinishedHandler(std::move(handler));
  }

  static inline Clock::time_point run_called;
  static inline Clock::time_point run_returned;

 private:
  std::unique_ptr<host::RProcess> target_;
};

class TimingServices : public host::ServicesWrapper {
 public:
  using ServicesWrapper::ServicesWrapper;
  std::unique_ptr<host::RProcess> NewRProcess() override {
    return std::make_unique<TimedRProcess>(target()->NewRProcess());
  }
};

class FinishNotify : public NEngineNotify {
 public:
  void StatusChanged(std::int32_t) override {}
  void ItemFinished() override { finished = true; }
  bool finished = false;
};

int RunItem(const std::string& dir) {
  OpenProject p(dir);
  TimingServices services(&p.services);
  host::ScopedServices installed(&services);
  auto engine = std::make_shared<QuoxNEngineInterface>();
  auto notify = std::make_shared<FinishNotify>();
  engine->ProjectDatabase(p.project);
  engine->NEngineNotify(notify);

  const auto start = Clock::now();
  if (!engine->RunItem(kItem)) {
    std::cerr << "RunItem did not start R:\n" << engine->Log() << "\n";
    return 1;
  }
  const double to_run = Seconds(start, TimedRProcess::run_called);
  const double to_started = Seconds(start, TimedRProcess::run_returned);
  // The run is not wanted beyond its start.
  engine->StopItemRun();
  if (!p.loop.RunUntil([&] { return notify->finished; }, std::chrono::seconds(60))) {
    std::cerr << "the stopped run did not end within a minute\n";
    return 1;
  }
  std::cout << "to_run_seconds=" << to_run << "\nto_started_seconds=" << to_started << "\n";
  return 0;
}

// ---------------------------------------------------------------------------
// The driver.

struct Options {
  std::vector<std::int64_t> sizes = {10000, 100000, 1000000};
  int repeats = 3;
  int runs = 7;
  std::string workdir;
  std::string sqlite3 = "/usr/bin/sqlite3";
  std::string sqlite3_extension;
  std::string example;
  std::vector<std::int64_t> run_objects = {1000, 10000, 100000};
  std::string pramble;
  bool keep = false;
};

struct SizeFigures {
  std::int64_t rows = 0, objects = 0, transects = 0;
  double describe_s = 0, create_s = 0, create_rss = 0;
  double makefiles_s = 0, makefiles_rss = 0, makefiles_bytes = 0;
  double write_s = 0, write_cpu = 0, write_rss = 0, write_bytes = 0;
  double sqlite_s = 0, sqlite_cpu = 0, sqlite_rss = 0, sqlite_bytes = 0;
};

// One line of a table: each cell right-aligned in its column's width.
void Row(std::ostream& out, const std::vector<std::string>& cells, const std::vector<int>& widths) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const int w = widths[i];
    std::string c = cells[i];
    if (static_cast<int>(c.size()) < w) c = std::string(w - c.size(), ' ') + c;
    out << c << (i + 1 < cells.size() ? "  " : "\n");
  }
}

void Measure(const Options& o, const std::string& workdir) {
  const std::string self = SelfPath();

  std::cout << "pramble benchmarks\n"
            << "machine: " << ::sysconf(_SC_NPROCESSORS_ONLN) << " CPUs, "
            << CpuInfo("model name") << "\n"
            << "load average at start: " << LoadAverage() << "\n"
            << "work folder: " << workdir << "\n"
            << "each figure: median of " << o.repeats << " runs, each in a fresh process\n\n"
            << std::flush;

  // RunItem first, before the large projects load the disk.
  std::vector<double> to_run, to_started;
  if (o.runs > 0) {
    std::cerr << "[bench] RunItem on the example project, " << o.runs << " runs\n";
    const std::string example = workdir + "/example";
    fs::remove_all(example);
    RunChild({self, "create", example, o.example});
    for (int r = 0; r < o.runs; ++r) {
      ChildResult ri = RunChild({self, "runitem", example});
      to_run.push_back(NumberValue(ri, "to_run_seconds") * 1000);
      to_started.push_back(NumberValue(ri, "to_started_seconds") * 1000);
    }
    if (!o.keep) fs::remove_all(example);
  }


  std::vector<SizeFigures> figures;
  std::vector<std::vector<FilesRun>> files_runs;
  for (std::int64_t size : o.sizes) {
    SizeFigures f;
    const std::string tag = std::to_string(size);
    const std::string source = workdir + "/survey-" + tag;
    const std::string project = workdir + "/project-" + tag;
    std::cerr << "[bench] " << size << " rows: generating the survey and creating the project\n";
    ChildResult d = RunChild({self, "describe", source, tag});
    f.rows = static_cast<std::int64_t>(NumberValue(d, "rows"));
    f.objects = static_cast<std::int64_t>(NumberValue(d, "objects"));
    f.transects = static_cast<std::int64_t>(NumberValue(d, "transects"));
    f.describe_s = NumberValue(d, "seconds");
    fs::remove_all(project);
    ChildResult c = RunChild({self, "create", project, source + "/project.json"});
    f.create_s = NumberValue(c, "seconds");
    f.create_rss = static_cast<double>(c.max_rss_kb);

    std::vector<double> mf_s, mf_rss, w_s, w_cpu, w_rss, s_s, s_cpu, s_rss;
    files_runs.emplace_back();
    for (int r = 0; r < o.repeats; ++r) {
      std::cerr << "[bench] " << size << " rows: run " << (r + 1) << " of " << o.repeats << "\n";
      ChildResult m = RunChild({self, "makefiles", project});
      mf_s.push_back(NumberValue(m, "seconds"));
      mf_rss.push_back(static_cast<double>(m.max_rss_kb));
      f.makefiles_bytes = NumberValue(m, "bytes");

      const std::string ddf = workdir + "/ddf-" + tag + ".dat.r";
      ChildResult w = RunChild({self, "writeddf", project, ddf});
      w_s.push_back(NumberValue(w, "seconds"));
      w_cpu.push_back(NumberValue(w, "cpu_seconds"));
      w_rss.push_back(static_cast<double>(w.max_rss_kb));
      f.write_bytes = NumberValue(w, "bytes");
      const std::string query = w.values["query"];

      // The floor: the sqlite3 shell exporting the same saved query.
      std::vector<std::string> shell = {o.sqlite3};
      if (!o.sqlite3_extension.empty()) {
        shell.push_back("-cmd");
        shell.push_back(".load " + o.sqlite3_extension);
      }
      const std::string out = workdir + "/sqlite3-" + tag + ".txt";
      for (const char* a : {"-header", "-separator", "\t"}) shell.push_back(a);
      const std::vector<std::string> shell_options = shell;
      shell.push_back(project + "/data.db");
      shell.push_back("SELECT * FROM \"" + query + "\"");
      ChildResult s = RunChild(shell, out);
      s_s.push_back(s.wall_seconds);
      s_cpu.push_back(s.cpu_seconds);
      s_rss.push_back(static_cast<double>(s.max_rss_kb));
      f.sqlite_bytes = static_cast<double>(fs::file_size(out));
      RunChild({self, "dropqueries", project});
      fs::remove(ddf);
      fs::remove(out);

      // All four files beside the shell's export of the four queries.
      files_runs.back().push_back(MeasureFiles(self, project, shell_options, workdir,
                                               NumberValue(m, "seconds"),
                                               NumberValue(m, "cpu_seconds")));
    }
    f.makefiles_s = Median(mf_s);
    f.makefiles_rss = Median(mf_rss);
    f.write_s = Median(w_s);
    f.write_cpu = Median(w_cpu);
    f.write_rss = Median(w_rss);
    f.sqlite_s = Median(s_s);
    f.sqlite_cpu = Median(s_cpu);
    f.sqlite_rss = Median(s_rss);
    figures.push_back(f);
    if (!o.keep) {
      fs::remove_all(project);
      fs::remove_all(source);
    }
  }

  std::ostream& out = std::cout;
  out << "Project creation (pramble create from a description with CSV files; not a target)\n";
  const std::vector<int> w1 = {9, 8, 9, 11, 10, 14};
  Row(out, {"rows", "objects", "transects", "CSV write s", "create s", "create peak MB"}, w1);
  for (const auto& f : figures)
    Row(out,
        {std::to_string(f.rows), std::to_string(f.objects), std::to_string(f.transects),
         Fixed(f.describe_s, 2), Fixed(f.create_s, 2), Mb(f.create_rss)},
        w1);

  out << "\nMakeFiles end to end (CClsDatabaseInterface::MakeFiles, debug mode: all data files "
         "and the R command file)\n";
  const std::vector<int> w2 = {9, 9, 12, 13};
  Row(out, {"rows", "seconds", "peak RSS MB", "files MB"}, w2);
  for (const auto& f : figures)
    Row(out,
        {std::to_string(f.rows), Fixed(f.makefiles_s, 3), Mb(f.makefiles_rss),
         Fixed(f.makefiles_bytes / 1048576.0, 1)},
        w2);

  out << "\nWriting the detection-function data file alone, beside the sqlite3 shell exporting "
         "the same saved query\n";
  const std::vector<int> w3 = {9, 9, 10, 6, 8, 9, 6, 10, 11, 8, 11};
  Row(out, {"rows", "writer s", "sqlite3 s", "ratio", "writer", "sqlite3", "CPU", "writer MB",
            "sqlite3 MB", "file MB", "sqlite3 MB"},
      w3);
  Row(out, {"", "", "", "", "CPU s", "CPU s", "ratio", "", "", "", ""}, w3);
  double worst_ratio = 0;
  std::int64_t worst_at = 0;
  for (const auto& f : figures) {
    const double ratio = f.sqlite_s > 0 ? f.write_s / f.sqlite_s : 0;
    const double cpu_ratio = f.sqlite_cpu > 0 ? f.write_cpu / f.sqlite_cpu : 0;
    if (ratio > worst_ratio) worst_ratio = ratio, worst_at = f.rows;
    Row(out,
        {std::to_string(f.rows), Fixed(f.write_s, 3), Fixed(f.sqlite_s, 3), Fixed(ratio, 2),
         Fixed(f.write_cpu, 3), Fixed(f.sqlite_cpu, 3), Fixed(cpu_ratio, 2), Mb(f.write_rss),
         Mb(f.sqlite_rss), Fixed(f.write_bytes / 1048576.0, 1),
         Fixed(f.sqlite_bytes / 1048576.0, 1)},
        w3);
  }
  out << "(s: wall time; ratio: writer / sqlite3; MB: peak RSS of the process; file MB: the "
         "writer's file, then the shell's)\n";

  std::vector<std::int64_t> rows;
  for (const auto& f : figures) rows.push_back(f.rows);
  const bool files_met = PrintFilesTable(out, rows, files_runs);

  if (!to_run.empty()) {
    out << "\nRunItem to R started (example project, " << to_run.size()
        << " runs, each in a fresh process)\n"
        << "  until the runner's Run is called: median " << Fixed(Median(to_run), 1)
        << " ms (min " << Fixed(*std::min_element(to_run.begin(), to_run.end()), 1) << ", max "
        << Fixed(*std::max_element(to_run.begin(), to_run.end()), 1) << ")\n"
        << "  until the R process exists:       median " << Fixed(Median(to_started), 1)
        << " ms (min " << Fixed(*std::min_element(to_started.begin(), to_started.end()), 1)
        << ", max " << Fixed(*std::max_element(to_started.begin(), to_started.end()), 1)
        << ")\n";
  }

  out << "\nTargets\n";
  if (!figures.empty()) {
    out << "  data file writing within 1.5x the sqlite3 export: "
        << (worst_ratio <= 1.5 ? "met" : "MISSED") << " (worst ratio " << Fixed(worst_ratio, 2)
        << " at " << worst_at << " rows)\n";
    // Flat: between the two largest sizes the peak grows by less than a
    // quarter, and by less than one byte in ten of the data file's growth,
    // so no part of it grows with the rows. (Below about 10^5 rows SQLite's
    // page cache and sorter, 2 MB each, are still filling up.)
    const SizeFigures& large = figures.back();
    const SizeFigures& before = figures.size() > 1 ? figures[figures.size() - 2] : large;
    auto flat = [&](double before_kb, double large_kb) {
      const double growth = (large_kb - before_kb) * 1024;
      const double file_growth = large.write_bytes - before.write_bytes;
      return large_kb <= before_kb * 1.25 && growth <= file_growth / 10;
    };
    const bool flat_all = flat(before.makefiles_rss, large.makefiles_rss) &&
                          flat(before.write_rss, large.write_rss);
    out << "  all four data files within 1.5x the four-query sqlite3 export: "
        << (files_met ? "met" : "MISSED") << " (at " << figures.back().rows << " rows)\n";
    out << "  peak memory flat as rows grow: "
        << (figures.size() < 2 ? "not measured (one size)" : flat_all ? "met" : "MISSED")
        << " (MakeFiles " << Mb(before.makefiles_rss) << " -> " << Mb(large.makefiles_rss)
        << " MB, writer " << Mb(before.write_rss) << " -> " << Mb(large.write_rss) << " MB from "
        << before.rows << " to " << large.rows << " rows)\n";
  }
  if (!to_run.empty()) {
    const double m = Median(to_started);
    out << "  RunItem to R started under 100 ms: " << (m < 100 ? "met" : "MISSED") << " (median "
        << Fixed(m, 1) << " ms)\n";
  }
  MeasureCreation({self, workdir, o.sqlite3, o.sizes, o.repeats, o.keep}, out);
  if (!o.run_objects.empty())
    MeasureRuns({o.run_objects, o.pramble, self, workdir, o.keep}, out);
  out << "\nload average at end: " << LoadAverage() << "\n";
}

// Runs the measurements in `--workdir` or in a fresh folder of the temporary
// area, which goes when they end (unless --keep), whether or not they succeed.
int Drive(const Options& o) {
  std::string workdir = o.workdir;
  bool made_workdir = false;
  if (workdir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pramble-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a work folder from " + pattern);
    workdir = pattern;
    made_workdir = true;
  } else {
    fs::create_directories(workdir);
  }
  try {
    Measure(o, workdir);
  } catch (...) {
    if (made_workdir && !o.keep) fs::remove_all(workdir);
    throw;
  }
  if (made_workdir && !o.keep) fs::remove_all(workdir);
  return 0;
}

std::vector<std::int64_t> ParseSizes(const std::string& text) {
  std::vector<std::int64_t> sizes;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    const long long v = std::stoll(item);
    if (v < 2) throw std::runtime_error("--sizes: '" + item + "' is not a row count of 2 or more");
    sizes.push_back(v);
  }
  return sizes;
}

int Usage() {
  std::cerr << "usage: pramble_bench [--sizes N,N,...] [--repeats N] [--runs N] [--workdir DIR]\n"
               "                     [--sqlite3 PATH] [--sqlite3-extension PATH]\n"
               "                     [--example PROJECT.json] [--objects N,N,...]\n"
               "                     [--pramble PATH] [--keep]\n";
  return 64;
}

int Main(int argc, char** argv) {
  if (StartedAsR(argv[0])) return RWrapper(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0].rfind("--", 0) != 0) {
    const std::string& command = args[0];
    auto need = [&](std::size_t n) {
      if (args.size() != n + 1)
        throw std::runtime_error("pramble_bench " + command + ": " + std::to_string(n) +
                                 " arguments expected");
    };
    if (command == "describe") return need(2), Describe(args[1], std::stoll(args[2]));
    if (command == "create") return need(2), Create(args[1], args[2]);
    if (command == "makefiles") return need(1), MakeFiles(args[1]);
    if (command == "writeddf") return need(2), WriteDdf(args[1], args[2]);
    if (command == "writefiles") return need(2), WriteFiles(args[1], args[2]);
    if (command == "dropqueries") return need(1), DropQueries(args[1]);
    if (command == "runitem") return need(1), RunItem(args[1]);
    if (command == "creation") return CreationMain({args.begin() + 1, args.end()});
    return Usage();
  }
  Options o;
#ifdef PRAMBLE_BENCH_EXAMPLE
  o.example = PRAMBLE_BENCH_EXAMPLE;
#endif
#ifdef PRAMBLE_BENCH_CLI
  o.pramble = PRAMBLE_BENCH_CLI;
#endif
#ifdef PRAMBLE_BENCH_SQLITE3_EXTENSION
  o.sqlite3_extension = PRAMBLE_BENCH_SQLITE3_EXTENSION;
#endif
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
      return args[++i];
    };
    if (a == "--sizes") o.sizes = ParseSizes(value());
    else if (a == "--repeats") o.repeats = std::max(1, std::stoi(value()));
    else if (a == "--runs") o.runs = std::max(0, std::stoi(value()));
    else if (a == "--workdir") o.workdir = value();
    else if (a == "--sqlite3") o.sqlite3 = value();
    else if (a == "--sqlite3-extension") o.sqlite3_extension = value();
    else if (a == "--example") o.example = value();
    else if (a == "--objects") {
      const std::string v = value();
      o.run_objects = v == "0" ? std::vector<std::int64_t>{} : ParseSizes(v);
    }
    else if (a == "--pramble") o.pramble = value();
    else if (a == "--keep") o.keep = true;
    else return Usage();
  }
  return Drive(o);
}

}  // namespace
}  // namespace pramble::bench

int main(int argc, char** argv) {
  try {
    return pramble::bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "pramble_bench: " << e.what() << "\n";
    return 1;
  }
}
