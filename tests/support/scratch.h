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
#include <utility>
#include <vector>

#include "pramble/host/errors.h"

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

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
inline std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}
// `text` with each "\n" made "\r\n".
inline std::string Crlf(std::string text) {
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
    text.insert(at, "\r");
  return text;
}

// `file` relative to tests/data.
inline std::string DataPath(const std::string& file) {
  return std::string(PRAMBLE_SOURCE_DIR) + "/tests/data/" + file;
}

// The one reader of case files under tests/data. In the file, "==== NAME"
// starts a case and "--- KEY REST" a field whose value is REST or, when the
// line has no REST, the lines up to the next "---" or "====" line, each with
// its "\n". A key may stand several times.
struct Case {
  std::string name;
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> All(const std::string& key) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : fields)
      if (k == key) out.push_back(v);
    return out;
  }
  bool Has(const std::string& key) const { return !All(key).empty(); }
  std::string Get(const std::string& key, const std::string& otherwise = "") const {
    const auto all = All(key);
    return all.empty() ? otherwise : all.back();
  }
};
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }  // a case shows as its name
inline std::vector<Case> ReadCases(const std::string& file) {
  std::vector<Case> cases;
  bool body = false;
  for (const std::string& line : Lines(ReadFile(DataPath(file)))) {
    if (line.starts_with("==== ")) {
      cases.push_back({line.substr(5), {}});
      body = false;
    } else if (line.starts_with("--- ")) {
      const std::size_t space = line.find(' ', 4);
      body = space == std::string::npos;
      cases.back().fields.emplace_back(line.substr(4, space - 4),
                                       body ? "" : line.substr(space + 1));
    } else if (body) {
      cases.back().fields.back().second += line + "\n";
    }
  }
  return cases;
}
// A table case file: the rows of the tab-separated tests/data/<file>, its
// header line left out.
inline std::vector<std::vector<std::string>> ReadTable(const std::string& file) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Lines(ReadFile(DataPath(file)))) {
    std::vector<std::string>& row = rows.emplace_back(1);
    for (char c : line)
      if (c == '\t')
        row.emplace_back();
      else
        row.back().push_back(c);
  }
  if (!rows.empty()) rows.erase(rows.begin());
  return rows;
}

// `text` with each `mark` replaced by its value, in one pass from left to
// right (where two marks start at one place, the first listed wins).
inline std::string Fill(const std::string& text,
                        const std::vector<std::pair<std::string, std::string>>& marks) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    auto hit = marks.begin();
    while (hit != marks.end() && text.compare(i, hit->first.size(), hit->first) != 0) ++hit;
    out += hit == marks.end() ? std::string(1, text[i]) : hit->second;
    i += hit == marks.end() ? 1 : hit->first.size();
  }
  return out;
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The HostError that `body` throws, as "<number>: <description>".
template <typename F>
std::string Failure(F&& body) {
  try {
    body();
  } catch (const host::HostError& e) {
    return std::to_string(e.number()) + ": " + e.description();
  }
  return "no error";
}

// The processes alive now (zombies left out): their id, parent and group.
struct LiveProcess {
  long pid, ppid, pgrp;
};
inline std::vector<LiveProcess> LiveProcesses() {
  std::vector<LiveProcess> live;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    char state = 0;
    long ppid = 0, pgrp = 0;
    if (close != std::string::npos &&
        std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 &&
        state != 'Z')
      live.push_back({std::stol(name), ppid, pgrp});
  }
  return live;
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
