// Support for the robustness tests: real `pramble` processes on a real
// project, R steered through the R profiles in tests/data/robustness (given
// as R_PROFILE_USER), and the check that a run leaves no process behind.
// R and the test meet in a sync folder (PRAMBLE_TEST_SYNC): R appends a line
// "WORD PID" to its file "to_test" (ReadyLine) and waits for the flag file
// "go" (Go). Neither side relies on timing.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sqlhost/project/description.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::robustness {

namespace fs = std::filesystem;
using namespace pramble::testing;

// The environment entry that makes R run profile `name` of tests/data/robustness.
inline std::string Profile(const std::string& name) {
  return "R_PROFILE_USER=" PRAMBLE_SOURCE_DIR "/tests/data/robustness/" + name;
}

// Fails the test for every process still a child of this one (this process
// is a child subreaper, so orphans of what it started become its children),
// and kills it. A child that is being killed gets a moment to go.
inline void ExpectNoProcessLeft() {
  std::vector<std::string> left;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);;) {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    left.clear();
    for (const LiveProcess& p : LiveProcesses()) {
      if (p.ppid != getpid()) continue;
      std::string cmdline = ReadFile("/proc/" + std::to_string(p.pid) + "/cmdline");
      std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
      left.push_back(std::to_string(p.pid) + " " + cmdline);
    }
    if (left.empty() || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (const std::string& p : left) {
    ADD_FAILURE() << "process left behind: " << p;
    kill(static_cast<pid_t>(std::stol(p)), SIGKILL);
  }
}

// Makes this process a child subreaper once and points every pramble it
// starts at the R library that every test process shares.
inline const std::string kSharedLibrary = PRAMBLE_BINARY_DIR "/robustness-R-library";
inline void PrepareProcess() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  setenv("PRAMBLE_R_LIBRARY", kSharedLibrary.c_str(), 1);
  unsetenv("R_PROFILE_USER");
}

// The example description with its analysis as items 1 to `items`, and
// `settings` merged in. The first run installs the R package (the setting
// R/ForceLoadLibrary) only when the shared library lacks it or holds an
// older build than the archive.
inline nlohmann::json Description(int items,
                                  const nlohmann::json& settings = nlohmann::json::object()) {
  nlohmann::json d = ExampleDescription();
  const nlohmann::json first = d["analyses"][0];
  d["analyses"] = nlohmann::json::array();
  for (int id = 1; id <= items; ++id) {
    d["analyses"].push_back(first);
    d["analyses"].back()["id"] = id;
    d["analyses"].back()["name"] = "item " + std::to_string(id);
  }
  std::error_code ec;
  const fs::path installed = fs::path(kSharedLibrary) / "quox" / "DESCRIPTION";
  d["settings"]["R"]["ForceLoadLibrary"] =
      !fs::exists(installed) ||
      fs::last_write_time(PRAMBLE_QUOX_ARCHIVE, ec) > fs::last_write_time(installed, ec);
  for (auto& [section, keys] : settings.items())
    for (auto& [key, value] : keys.items()) d["settings"][section][key] = value;
  return d;
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
// The status number in a `pramble status DIR ITEM` line.
inline int StatusNumber(const std::string& line) {
  const auto tab = line.find('\t', line.find('\t') + 1);
  return tab == std::string::npos ? -1 : std::atoi(line.c_str() + tab + 1);
}

// The next line R wrote into `sync`/to_test after the `*seen` already read;
// "" once `gone()` says that no R will write it, or after a minute.
inline std::string ReadyLine(const std::string& sync, std::size_t* seen,
                             const std::function<bool()>& gone) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    std::ifstream in(sync + "/to_test");
    std::string line;
    for (std::size_t n = 0; std::getline(in, line) && in.good(); ++n)
      if (n == *seen) return ++*seen, line;
    if (gone() || std::chrono::steady_clock::now() > deadline) return "";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
inline void Go(const std::string& sync) { WriteFile(sync + "/go", "go\n"); }

// Files named "pramble-*" (command folders) or, given `id`, the plot files of
// item `id` in folder `dir`.
inline std::vector<std::string> FilesIn(const std::string& dir, int id = 0) {
  const std::regex wanted(id == 0 ? "pramble-.*" : "(ddf|qq)\\." + std::to_string(id) + "\\..*");
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (std::regex_match(entry.path().filename().string(), wanted))
      files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  return files;
}

// A project of kItems items of the example analysis whose item 1 has been
// run with R before any test: what it stored must outlive every fault that a
// test brings on another item. Each test gets a temporary area of its own
// (tmp()) and a sync folder (sync()), and must leave no process behind.
class ProjectTest : public ::testing::Test {
 protected:
  static constexpr int kItems = 12;

  static void SetUpTestSuite() {
    PrepareProcess();
    temp_ = new TempDir;
    dir_ = temp_->path() + "/survey project";
    sqlhost::CreateProjectFromJson(dir_, Description(kItems), "");
    fs::create_directories(temp_->path() + "/tmp");
    const Outcome first = RunPramble({"run", dir_, "1"}, {"TMPDIR=" + temp_->path() + "/tmp"});
    ASSERT_EQ(first.code, 0) << first.err << first.out;
    reference_ = StoredOf(dir_, 1);
    reference_plots_ = FilesIn(dir_, 1);
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
    fs::create_directories(sync());
  }
  void TearDown() override {
    ExpectNoProcessLeft();
    EXPECT_EQ(StoredOf(dir_, 1), reference_) << "item 1's stored results changed";
    EXPECT_EQ(FilesIn(dir_, 1), reference_plots_) << "item 1's plot files changed";
  }

  static const std::string& dir() { return dir_; }
  const std::string& tmp() const { return tmp_; }
  std::string sync() const { return tmp_ + "-sync"; }
  // The environment of a run: its TMPDIR, the sync folder and R profile `profile`.
  std::vector<std::string> Env(const std::string& profile = "") const {
    std::vector<std::string> env = {"TMPDIR=" + tmp(), "PRAMBLE_TEST_SYNC=" + sync()};
    if (!profile.empty()) env.push_back(Profile(profile));
    return env;
  }

  static inline TempDir* temp_ = nullptr;
  static inline std::string dir_;
  static inline Stored reference_;
  static inline std::vector<std::string> reference_plots_;
  std::string tmp_;
};

}  // namespace pramble::robustness
