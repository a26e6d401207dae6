// Support for the robustness tests: the real `pramble` binary as child
// processes (with extra environment, optionally inside a private mount
// namespace with a tmpfs of its own), a project made by `pramble create`,
// R sessions that the test steers through an R profile (R_PROFILE_USER), and
// the check that a run leaves no process behind.
//
// R and the test meet through two kinds of file in a sync folder: R writes a
// line into the FIFO "to_test" (ReadyLine reads it), and waits for a flag
// file that the test makes (Flag). Neither side relies on timing.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::robustness {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using testing::Has;

using testing::CommandFolderOf;
using testing::Outcome;
using testing::Pramble;
using testing::PrivateTmpfs;
using testing::RunPramble;
using testing::kNoNamespace;

// The processes that are still children of this one, by ID, with their
// command lines (this process is a child subreaper: orphans of what it
// started become its children). Zombies are reaped on the way; a child that
// is being killed gets a moment to go.
inline std::vector<std::string> LeftOverProcesses() {
  std::vector<std::string> left;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    left.clear();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      const auto close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(text.substr(close + 2));
      char state = 0;
      long ppid = 0;
      rest >> state >> ppid;
      if (ppid != getpid()) continue;
      std::string cmdline = ReadFile((entry.path() / "cmdline").string());
      for (char& c : cmdline)
        if (c == '\0') c = ' ';
      left.push_back(name + " " + cmdline);
    }
    if (left.empty() || std::chrono::steady_clock::now() > deadline) return left;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Fails the test for every process left, and kills it.
inline void ExpectNoProcessLeft() {
  for (const std::string& p : LeftOverProcesses()) {
    ADD_FAILURE() << "process left behind: " << p;
    kill(static_cast<pid_t>(std::stol(p)), SIGKILL);
  }
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

// The R library that every test process shares (installs into it are
// serialised by `pramble run`), kept in the build folder between runs.
inline std::string SharedRLibrary() {
  return std::string(PRAMBLE_BINARY_DIR) + "/robustness-R-library";
}

// The example project's description with `items` analysis items (IDs 1 to
// `items`, all the same analysis) and the given settings merged in.
inline nlohmann::json Description(int items,
                                  const nlohmann::json& settings = nlohmann::json::object()) {
  nlohmann::json d = testing::ExampleDescription();
  const nlohmann::json first = d["analyses"][0];
  d["analyses"] = nlohmann::json::array();
  for (int id = 1; id <= items; ++id) {
    nlohmann::json a = first;
    a["id"] = id;
    a["name"] = "item " + std::to_string(id);
    d["analyses"].push_back(a);
  }
  for (auto& [section, keys] : settings.items())
    for (auto& [key, value] : keys.items()) d["settings"][section][key] = value;
  return d;
}

// Makes project folder `dir` with `pramble create`.
inline void CreateProject(const std::string& dir, const nlohmann::json& description) {
  const std::string file = dir + ".json";
  WriteFile(file, description.dump(1));
  const Outcome made = RunPramble({"create", dir, "--from", file});
  if (made.code != 0) throw std::runtime_error("pramble create failed: " + made.err);
}

// What `pramble` shows of one item: status line, log, results, statistics.
struct Stored {
  std::string status, log, results, stats;
  bool operator==(const Stored&) const = default;
};

inline Stored StoredOf(const std::string& dir, int id) {
  const std::string item = std::to_string(id);
  return {RunPramble({"status", dir, item}).out, RunPramble({"log", dir, item}).out,
          RunPramble({"results", dir, item}).out, RunPramble({"stats", dir, item}).out};
}

// The status number in a `pramble status DIR ITEM` line; -1 when unreadable.
inline int StatusNumber(const std::string& status_line) {
  std::istringstream in(status_line);
  std::string id, name, number;
  if (!std::getline(in, id, '\t') || !std::getline(in, name, '\t') ||
      !std::getline(in, number, '\t'))
    return -1;
  return std::atoi(number.c_str());
}

// The folder and FIFO through which the test and R meet.
class RSync {
 public:
  explicit RSync(const std::string& folder) : folder_(folder) {
    fs::create_directories(folder_);
    fifo_ = folder_ + "/to_test";
    if (mkfifo(fifo_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    // Read and write ends in one: opening never blocks, and R's writes never
    // meet a FIFO without reader.
    fd_ = open(fifo_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open the FIFO");
  }
  ~RSync() { close(fd_); }
  RSync(const RSync&) = delete;
  RSync& operator=(const RSync&) = delete;

  const std::string& fifo() const { return fifo_; }
  std::string flag(const std::string& name) const { return folder_ + "/" + name; }
  void Flag(const std::string& name) const { WriteFile(flag(name), "go\n"); }

  // The next line R wrote; "" when none came in `patience` or once
  // `gone()` says that no R will write it (the test then fails on what it
  // expected, instead of hanging).
  std::string ReadyLine(const std::function<bool()>& gone = nullptr,
                        std::chrono::seconds patience = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
      const auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100))) <= 0) {
        if (gone && gone()) return "";
        continue;
      }
      char buf[256];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) buffer_.append(buf, n);
    }
  }

 private:
  std::string folder_, fifo_;
  int fd_ = -1;
  std::string buffer_;
};

// R text quoted for R.
inline std::string RString(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') q += '\\';
    q += c;
  }
  return q + "'";
}

// An R profile whose `body` runs only in the R that pramble starts on a
// command file (not in the R sessions that a package install starts).
inline std::string RProfile(const std::string& path, const std::string& body) {
  WriteFile(path, "if (any(grepl('in\\\\.r$', commandArgs()))) local({\n" + body + "\n})\n");
  return "R_PROFILE_USER=" + path;
}

// R line: tell the test `word` and the R process ID through the FIFO, as
// one string: cat writes a FIFO unbuffered, a piece at a time, and the lines
// of two R sessions telling at once would mix. (cat warns that it writes
// unbuffered; the warning would change the run's final status.)
inline std::string RTell(const RSync& sync, const std::string& word) {
  return "suppressWarnings(cat(paste0(" + RString(word + " ") +
         ", Sys.getpid(), '\\n'), file = " + RString(sync.fifo()) + "))\n";
}

// R lines: RTell, then wait for flag file `flag`.
inline std::string RTellAndWait(const RSync& sync, const std::string& word,
                                const std::string& flag) {
  return RTell(sync, word) + "while (!file.exists(" + RString(sync.flag(flag)) +
         ")) Sys.sleep(0.05)\n";
}

// Command folders ("pramble-*") left in temporary area `tmp`.
inline std::vector<std::string> CommandFoldersIn(const std::string& tmp) {
  std::vector<std::string> left;
  std::error_code ec;
  for (auto it = fs::directory_iterator(tmp, ec); !ec && it != fs::directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (name.rfind("pramble-", 0) == 0) left.push_back(name);
  }
  return left;
}

// Plot files of item `id` in the project folder.
inline std::vector<std::string> PlotFilesOf(const std::string& dir, int id) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const std::string mark = "." + std::to_string(id) + ".";
    if ((name.rfind("ddf", 0) == 0 || name.rfind("qq", 0) == 0) && Has(name, mark))
      files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// True when the shared library lacks the package or holds an older build
// than the archive: the first run of a project then installs it (the setting
// R/ForceLoadLibrary True).
inline bool LibraryIsStale() {
  std::error_code ec;
  const fs::path installed = fs::path(SharedRLibrary()) / "quox" / "DESCRIPTION";
  if (!fs::exists(installed, ec)) return true;
  return fs::last_write_time(PRAMBLE_QUOX_ARCHIVE, ec) > fs::last_write_time(installed, ec);
}

// Makes this process a child subreaper once, so that LeftOverProcesses sees
// what the pramble processes leave, and points every pramble it starts at
// the shared R library.
inline void PrepareProcess() {
  static const bool done = [] {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    setenv("PRAMBLE_R_LIBRARY", SharedRLibrary().c_str(), 1);
    unsetenv("R_PROFILE_USER");
    return true;
  }();
  (void)done;
}

// A project of kItems items of the example analysis whose item 1 has been
// run with R before any test: what it stored (results row, statistics,
// status, plot files) must outlive every fault that a test brings on another
// item. Each test gets a temporary area of its own (tmp()), and must leave
// no process behind.
class ProjectTest : public ::testing::Test {
 protected:
  static constexpr int kItems = 12;

  static void SetUpTestSuite() {
    PrepareProcess();
    temp_ = new TempDir;
    dir_ = temp_->path() + "/survey project";
    CreateProject(dir_, Description(kItems, {{"R", {{"ForceLoadLibrary", LibraryIsStale()}}}}));
    const std::string tmp = temp_->path() + "/tmp-reference";
    fs::create_directories(tmp);
    const Outcome first = RunPramble({"run", dir_, "1"}, {"TMPDIR=" + tmp});
    ASSERT_EQ(first.code, 0) << first.err << first.out;
    reference_ = StoredOf(dir_, 1);
    reference_plots_ = PlotFilesOf(dir_, 1);
    ASSERT_FALSE(reference_.stats.empty());
    ASSERT_FALSE(reference_plots_.empty());
  }
  static void TearDownTestSuite() {
    delete temp_;
    temp_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(temp_, nullptr);
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    tmp_ = temp_->path() + "/tmp-" + name;
    fs::create_directories(tmp_);
  }
  void TearDown() override {
    ExpectNoProcessLeft();
    EXPECT_EQ(StoredOf(dir_, 1), reference_) << "item 1's stored results changed";
    EXPECT_EQ(PlotFilesOf(dir_, 1), reference_plots_) << "item 1's plot files changed";
  }

  static const std::string& dir() { return dir_; }
  const std::string& tmp() const { return tmp_; }
  std::string sync_folder() const { return tmp_ + "-sync"; }

  static inline TempDir* temp_ = nullptr;
  static inline std::string dir_;
  static inline Stored reference_;
  static inline std::vector<std::string> reference_plots_;
  std::string tmp_;
};

}  // namespace pramble::robustness
