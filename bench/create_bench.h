// The cost of `pramble create` as the observation rows grow, beside the
// floor a user would reach for instead: the sqlite3 shell importing the same
// CSV files (.import) into a new database, in the same run. Each creation
// and each import is a child process, so wait4 gives each its own peak
// memory.
//
//   pramble_bench creation [--sizes N,N,...] [--repeats N] [--workdir DIR] [--sqlite3 PATH]
//
// runs this measurement alone; `make bench` runs it after the others.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pramble::bench {

struct CreationOptions {
  std::string self;     // this program, for its subcommands "describe" and "create"
  std::string workdir;  // an existing folder for the surveys and projects
  std::string sqlite3 = "/usr/bin/sqlite3";
  std::vector<std::int64_t> sizes = {10000, 100000, 1000000};
  int repeats = 3;
  bool keep = false;  // keep the surveys and the last projects
};

// Measures and prints the table and its targets to `out`; progress goes to
// standard error. Throws std::runtime_error when a child fails.
void MeasureCreation(const CreationOptions& o, std::ostream& out);

// The subcommand "creation": `args` are its options (after the word).
int CreationMain(const std::vector<std::string>& args);

}  // namespace pramble::bench
