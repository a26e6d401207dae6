// Small helpers of the host utility tests: whole-file reads and writes, checks
// where file permissions hold, and a real Rscript run on a script text.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grp.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/scratch.h"

namespace pramble::testing {

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void Spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Runs `check` where file permissions hold: in this process, or, when the
// tests run as root (whom permissions do not stop), in a child process that
// has become the user "nobody" and owns `folder`. Answers check()'s answer:
// 0 when every check held, else the number of the first that failed.
inline int WherePermissionsHold(const TempDir& folder, const std::function<int()>& check) {
  if (::geteuid() != 0) return check();
  constexpr uid_t kNobody = 65534;
  if (::chown(folder.path().c_str(), kNobody, kNobody) != 0) return 100;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(101);
    ::_exit(check());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 102;
  return WEXITSTATUS(status);
}

// Runs `script` with Rscript and answers what it printed (stdout and stderr).
inline std::string RunRscript(const TempDir& folder, const std::string& script) {
  const std::string file = folder / "script.R";
  Spit(file, script);
  return RunRscript(file);
}

}  // namespace pramble::testing
