// Whole analysis runs for the benchmarks: `pramble run` of an io and a ds
// item on simulated surveys of a given number of objects, with the time and
// peak memory of the run and of its R process (see run_bench.cc).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pramble::bench {

struct RunBenchOptions {
  std::vector<std::int64_t> objects;  // one survey of each size
  std::string pramble;                // the command line program
  std::string self;                   // this program, which stands in for R as well
  std::string workdir;
  bool keep = false;
};

// Makes the projects, runs their items (one unmeasured run first installs
// the package into a library of the work folder) and prints the table and
// its target line to `out`. Throws std::runtime_error when a step fails.
void MeasureRuns(const RunBenchOptions& options, std::ostream& out);

// True when this program was started under the name R: it then stands in
// for R in the runs above (RWrapper).
bool StartedAsR(const char* argv0);

// Runs the real R ($PRAMBLE_BENCH_R, default /usr/bin/R) with the same
// arguments, waits for it and writes its wall time, CPU time and peak
// resident memory as key=value lines to $PRAMBLE_BENCH_R_FIGURES; answers
// R's exit status.
int RWrapper(int argc, char** argv);

}  // namespace pramble::bench
