// Runs several analysis items of a project at once, each in a child process
// of this same binary (`pramble run DIR ITEM --quiet`), at most `jobs` at a
// time. Each child takes its item's lock and runs the item the way a single
// `pramble run` does; the parent reads the status lines that the children
// write on standard error and shows them: on a terminal one live line per
// item, redrawn in place, otherwise one plain line per status change
//
//   item 2 (io, hn): status 1 Finished (12.3 s)
//
// Anything else a child writes is passed on with the same prefix. SIGINT or
// SIGTERM to the parent is forwarded to every running child (each stops its
// run the normal way) and no further child is started. `pramble run --all`,
// `pramble run ITEM ITEM...` and `pramble demo` use it; docs/engine.md
// describes what is shown.
//
//   const ParallelRunResult r = RunInParallel(dir, {{1, "io hn"}, {2, "io hr"}}, {.jobs = 2});
//   PrintRunSummary(std::cout, dir, r);
//   return r.exit_code;
//
// Thread-safety: one thread; SIGINT and SIGTERM are blocked on it while the
// items run and taken through a signalfd.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace pramble::sqlhost {
class Project;
}

namespace pramble::cli {

struct ParallelItem {
  std::int32_t id = 0;
  std::string name;
};

struct ParallelRunOptions {
  unsigned jobs = 1;   // at most this many children at a time (0 counts as 1)
  bool debug = false;  // the children run with --debug
  bool live = false;   // live lines redrawn in place (a terminal) rather than plain lines
  std::string command = "run";  // names the command in the runner's own messages
};

struct ParallelOutcome {
  ParallelItem item;
  bool started = false;
  int exit_code = -1;             // the child's; -1 when it was not started
  std::int32_t last_status = -1;  // the last status the child reported; -1: none
  double seconds = 0;             // from the child's start to its end
};

struct ParallelRunResult {
  std::vector<ParallelOutcome> items;  // in the order given
  bool stopped = false;                // a signal asked the runs to stop
  int exit_code = 0;  // the highest of the children's, at least 2 when stopped
};

// std::thread::hardware_concurrency(), at least 1.
unsigned DefaultJobs();

// Runs `items` of project `dir` and answers once every child has ended.
// Progress goes to `progress` (standard error by default of the callers).
ParallelRunResult RunInParallel(const std::string& dir, const std::vector<ParallelItem>& items,
                                const ParallelRunOptions& options, std::ostream& progress);

// One line per item with its final status as the project now stores it, the
// time and a nonzero exit code, then where the logs are read.
void PrintRunSummary(std::ostream& out, const std::string& dir, const ParallelRunResult& result);

}  // namespace pramble::cli
