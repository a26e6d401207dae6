// Runs one measurement in a fresh child process, so that the peak resident
// memory that wait4 reports belongs to that measurement alone. A child of the
// benchmark program reports its figures as "key=value" lines on standard
// output; any other program (the sqlite3 shell) may have its standard output
// sent to a file instead.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pramble::bench {

struct ChildResult {
  int exit_code = -1;         // -1 when the child was killed by a signal
  double wall_seconds = 0;    // from fork to the end of the child
  double cpu_seconds = 0;     // user and system time of the child
  long max_rss_kb = 0;        // peak resident set size of the child
  std::map<std::string, std::string> values;  // the child's "key=value" lines
};

// Starts `argv` (argv[0] a path), waits for it and answers its figures.
// With `stdout_file` the child's standard output goes to that file (created
// or truncated) and is not read. Throws std::runtime_error when the child
// cannot be started, or ends unsuccessfully (the message holds its command).
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& stdout_file = "");

// The value of `key` that the child reported, as a number; throws
// std::runtime_error naming the key when it is absent or no number.
double NumberValue(const ChildResult& result, const std::string& key);

}  // namespace pramble::bench
