#include "bench/create_bench.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "bench/child_process.h"
#include "bench/figures.h"

namespace fs = std::filesystem;

namespace pramble::bench {
namespace {

void Cells(std::ostream& out, const std::vector<std::string>& cells) {
  const int widths[] = {9, 10, 11, 7, 11, 12, 7, 11, 12};
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string& c = cells[i];
    out << std::string(std::max<int>(0, widths[i] - static_cast<int>(c.size())), ' ') << c
        << (i + 1 < cells.size() ? "  " : "\n");
  }
}

struct Figures {
  std::int64_t rows = 0;
  double create_s = 0, create_kb = 0, sqlite_s = 0, sqlite_kb = 0, create_cpu = 0, sqlite_cpu = 0;
};

}  // namespace

void MeasureCreation(const CreationOptions& o, std::ostream& out) {
  std::vector<Figures> all;
  for (std::int64_t size : o.sizes) {
    const std::string tag = std::to_string(size);
    const std::string source = o.workdir + "/create-survey-" + tag;
    const std::string project = o.workdir + "/create-project-" + tag;
    const std::string imported = o.workdir + "/create-import-" + tag + ".db";
    std::cerr << "[bench] creation at " << size << " rows: generating the survey\n";
    Figures f;
    f.rows = static_cast<std::int64_t>(NumberValue(RunChild({o.self, "describe", source, tag}), "rows"));
    std::vector<double> c_s, c_kb, s_s, s_kb, c_cpu, s_cpu;
    for (int r = 0; r < o.repeats; ++r) {
      std::cerr << "[bench] creation at " << size << " rows: run " << (r + 1) << " of "
                << o.repeats << "\n";
      fs::remove_all(project);
      const ChildResult c = RunChild({o.self, "create", project, source + "/project.json"});
      c_s.push_back(c.wall_seconds);
      c_kb.push_back(static_cast<double>(c.max_rss_kb));
      c_cpu.push_back(c.cpu_seconds);
      // The floor: the shell importing the same two CSV files into new tables.
      fs::remove(imported);
      const ChildResult s =
          RunChild({o.sqlite3, "-csv", imported, ".import " + source + "/transects.csv transects",
                    ".import " + source + "/observations.csv observations"},
                   "/dev/null");
      s_s.push_back(s.wall_seconds);
      s_kb.push_back(static_cast<double>(s.max_rss_kb));
      s_cpu.push_back(s.cpu_seconds);
    }
    f.create_s = Median(c_s);
    f.create_kb = Median(c_kb);
    f.sqlite_s = Median(s_s);
    f.sqlite_kb = Median(s_kb);
    f.create_cpu = Median(c_cpu);
    f.sqlite_cpu = Median(s_cpu);
    all.push_back(f);
    fs::remove(imported);
    if (!o.keep) {
      fs::remove_all(project);
      fs::remove_all(source);
    }
  }

  out << "\nCreating a project (pramble create from a description with CSV files, beside "
         "sqlite3 .import of the same files; load average "
      << LoadAverage() << ")\n";
  Cells(out, {"rows", "create s", "sqlite3 s", "ratio", "create MB", "sqlite3 MB", "CPU", "create CPU",
              "sqlite3 CPU"});
  Cells(out, {"", "", "", "", "", "", "ratio", "s", "s"});
  for (const Figures& f : all) {
    Cells(out, {std::to_string(f.rows), Fixed(f.create_s, 3), Fixed(f.sqlite_s, 3),
                Fixed(f.sqlite_s > 0 ? f.create_s / f.sqlite_s : 0, 2), Mb(f.create_kb),
                Mb(f.sqlite_kb), Fixed(f.sqlite_cpu > 0 ? f.create_cpu / f.sqlite_cpu : 0, 2),
                Fixed(f.create_cpu, 3), Fixed(f.sqlite_cpu, 3)});
  }
  out << "(s: wall time of the whole process, median of " << o.repeats
      << "; MB: its peak RSS; ratio: create / sqlite3; CPU s: its user and system time)\n";
  if (all.empty()) return;
  const Figures& large = all.back();
  const Figures& before = all.size() > 1 ? all[all.size() - 2] : large;
  const double ratio = large.sqlite_s > 0 ? large.create_s / large.sqlite_s : 0;
  const bool flat = large.create_kb < 64 * 1024 && large.create_kb <= 1.5 * before.create_kb;
  out << "  creation within 2x the sqlite3 import at " << large.rows
      << " rows: " << (ratio <= 2 ? "met" : "MISSED") << " (ratio " << Fixed(ratio, 2) << ")\n"
      << "  creation's peak memory under 64 MB and within 1.5x of the figure at " << before.rows
      << " rows: " << (flat ? "met" : "MISSED") << " (" << Mb(before.create_kb) << " -> "
      << Mb(large.create_kb) << " MB)\n";
}

int CreationMain(const std::vector<std::string>& args) {
  CreationOptions o;
  o.self = fs::read_symlink("/proc/self/exe").string();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
      return args[++i];
    };
    if (a == "--sizes") {
      o.sizes.clear();
      std::stringstream in(value());
      for (std::string item; std::getline(in, item, ',');) o.sizes.push_back(std::stoll(item));
    } else if (a == "--repeats") {
      o.repeats = std::max(1, std::stoi(value()));
    } else if (a == "--workdir") {
      o.workdir = value();
    } else if (a == "--sqlite3") {
      o.sqlite3 = value();
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      throw std::runtime_error("creation: unknown option '" + a + "'");
    }
  }
  const bool made = o.workdir.empty();
  if (made) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pramble-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a work folder from " + pattern);
    o.workdir = pattern;
  }
  fs::create_directories(o.workdir);
  try {
    MeasureCreation(o, std::cout);
  } catch (...) {
    if (made && !o.keep) fs::remove_all(o.workdir);
    throw;
  }
  if (made && !o.keep) fs::remove_all(o.workdir);
  return 0;
}

}  // namespace pramble::bench
