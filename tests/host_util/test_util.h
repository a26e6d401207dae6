// Small helpers of the host utility tests: a temporary folder that removes
// itself, and a real Rscript run on a script text.
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

namespace pramble::testing {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/h3test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    // Folders made read-only by a test must be writable again to go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
      if (it->is_directory(ignored) && !it->is_symlink(ignored))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

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
inline int WherePermissionsHold(const ScratchFolder& folder, const std::function<int()>& check) {
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
inline std::string RunRscript(const ScratchFolder& folder, const std::string& script) {
  const std::string file = folder / "script.R";
  Spit(file, script);
  const std::string command = "Rscript --vanilla '" + file + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start Rscript");
  std::string output;
  char buf[4096];
  std::size_t n;
  while ((n = ::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
  ::pclose(pipe);
  return output;
}

}  // namespace pramble::testing
