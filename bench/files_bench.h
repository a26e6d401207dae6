// The data file measurements of pramble_bench: the item's data files written
// with the host's temporary queries kept, so that the sqlite3 shell can export
// the same saved queries in the same run, and where the writing spends its
// time. The subcommands run in child processes of the benchmark program:
//
//   writeddf DIR FILE     the detection-function data file alone
//   writefiles DIR FOLDER all four data files (detection function, region,
//                         sample, observation) and the time of each step
//   dropqueries DIR       deletes the queries the two above leave
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "pramble/host/project_database.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/services/default_services.h"

namespace pramble::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// The CPU time (user and system) of this process so far.
double CpuSeconds();

// The item every benchmark project holds.
constexpr std::int32_t kItem = 1;

std::shared_ptr<host::BrowserItem> ItemOf(host::ProjectDatabase& project, std::int32_t id);

// A project with the host's default services, as `pramble run` has them;
// the caller installs them (or a wrapper around them) on its thread.
struct OpenProject {
  explicit OpenProject(const std::string& dir)
      : project(sqlhost::Project::Open(dir)), services(loop) {}
  std::shared_ptr<sqlhost::Project> project;
  sqlhost::EventLoop loop;
  sqlhost::DefaultServices services;
};

int WriteDdf(const std::string& dir, const std::string& file);
int WriteFiles(const std::string& dir, const std::string& folder);
int DropQueries(const std::string& dir);

// One run of the four-file measurement on a project whose MakeFiles took
// `makefiles_s` (wall) and `makefiles_cpu` seconds: the writefiles child,
// then the shell (`shell`: the sqlite3 command with its options before the
// database) exporting each of the four saved queries to a file.
struct FilesRun {
  double makefiles_s = 0, makefiles_cpu = 0;
  double export_s = 0, export_cpu = 0;  // the four shell processes together
  double export_rss = 0;                // the largest of the four, KB
  std::vector<std::pair<std::string, double>> steps;  // writefiles' steps, seconds
};
FilesRun MeasureFiles(const std::string& self, const std::string& project,
                      const std::vector<std::string>& shell, const std::string& workdir,
                      double makefiles_s, double makefiles_cpu);

// The table of the runs (one list of repeats per size, with its row count),
// medians of each figure, and the line of the target; answers whether the
// target (within 1.5 times at the largest size) is met.
bool PrintFilesTable(std::ostream& out, const std::vector<std::int64_t>& rows,
                     const std::vector<std::vector<FilesRun>>& runs);

}  // namespace pramble::bench
