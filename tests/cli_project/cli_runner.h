// Runs the real pramble binary and collects its exit code and output.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_project.h"

namespace pramble::cli::test {

struct CliResult {
  int exit_code = -1;
  std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// Runs `pramble ARGS...`; `scratch` is a folder for the captured output.
inline CliResult RunPramble(const std::vector<std::string>& args, const std::string& scratch) {
  std::string cmd = ShellQuote(PRAMBLE_CLI);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  const std::string out = scratch + "/cli.out", err = scratch + "/cli.err";
  cmd += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
  const int status = std::system(cmd.c_str());
  CliResult r;
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = pramble::testing::ReadFile(out);
  r.err = pramble::testing::ReadFile(err);
  return r;
}

}  // namespace pramble::cli::test
