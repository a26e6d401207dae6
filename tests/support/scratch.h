// Small pieces every test program may use, header-only so that the host
// tests that link a single host library can use them too: a temporary folder
// that removes itself, an environment variable set for one scope, whole-file
// reads and writes, case files under tests/data, a text search, and a real
// Rscript run.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace pramble::testing {

// A fresh folder under TMPDIR (or the system's temporary folder), removed
// with all it holds on destruction, folders a test made read-only included.
class TempDir {
 public:
  TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        ((tmp && *tmp) ? std::string(tmp) : std::filesystem::temp_directory_path().string()) +
        "/pramble-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot create a temporary folder like " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
      if (it->is_directory(ignored) && !it->is_symlink(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, given nullopt, unsets) an environment variable until the end of
// the scope, then puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << contents)) throw std::runtime_error("cannot write " + path);
}

// The cases of tests/data/<name>: blocks separated by a line "====", each
// block its lines.
inline std::vector<std::vector<std::string>> ReadBlocks(const std::string& name) {
  std::istringstream in(ReadFile(std::string(PRAMBLE_SOURCE_DIR) + "/tests/data/" + name));
  std::vector<std::vector<std::string>> blocks(1);
  for (std::string line; std::getline(in, line);) {
    if (line == "====")
      blocks.emplace_back();
    else
      blocks.back().push_back(line);
  }
  if (blocks.back().empty()) blocks.pop_back();
  return blocks;
}

// The rows of the tab-separated tests/data/<name>, its header line left out.
inline std::vector<std::vector<std::string>> ReadTable(const std::string& name) {
  std::istringstream in(ReadFile(std::string(PRAMBLE_SOURCE_DIR) + "/tests/data/" + name));
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string>& row = rows.emplace_back(1);
    for (char c : line)
      if (c == '\t')
        row.emplace_back();
      else
        row.back().push_back(c);
  }
  return rows;
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs the R script at `script_path` with Rscript and answers what it printed
// on stdout and stderr.
inline std::string RunRscript(const std::string& script_path) {
  FILE* pipe = ::popen(("Rscript --vanilla '" + script_path + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start Rscript");
  std::string output;
  char buf[4096];
  for (std::size_t n; (n = ::fread(buf, 1, sizeof buf, pipe)) > 0;) output.append(buf, n);
  ::pclose(pipe);
  return output;
}

}  // namespace pramble::testing
