// The real `pramble demo`, once, with R: it replaces an earlier project,
// every item finishes, the table sets each estimate beside the truth with
// an interval that holds it or a note, and the survey's files make the same
// project again. Then the folders that the demo refuses to replace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

const std::string kExample = std::string(PRAMBLE_EXAMPLES_DIR) + "/double-observer/project.json";

using CliResult = Outcome;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string WithThousands(long long n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return digits;
}

long long Number(const std::string& text) {
  return std::stoll(std::regex_replace(text, std::regex(","), ""));
}

struct ExpectedItem {
  int id;
  std::string name;
  std::vector<std::string> regions;
  std::string note;  // "[1]" for the ds items
};

const std::vector<ExpectedItem> kItems = {
    {1, "ds, observer 1, exact distances, by region", {"North", "South", "Total"}, "[1]"},
    {2, "io, exact distances, by region", {"North", "South", "Total"}, ""},
    {3, "io, 10 m bands, sex as covariate, whole area", {"Total"}, ""},
    {4, "trial, exact distances, whole area", {"Total"}, ""},
    {5, "trial, 10 m bands, by region", {"North", "South", "Total"}, ""},
    {6, "ds, observer 1, 10 m bands, whole area", {"Total"}, "[1]"},
};
const std::map<std::string, long long> kTruth = {{"North", 2400}, {"South", 3600}, {"Total", 6000}};

// The checks on one run of the demo, in folder `dir`; `scratch` is a folder
// for the other projects a check makes.
struct DemoRun {
  std::string scratch, dir;
  CliResult demo;
};

void ExpectEveryItemFinished(const DemoRun& run) {
  EXPECT_EQ(run.demo.code, 0) << run.demo.out << run.demo.err;
  EXPECT_EQ(run.demo.err.find("the end of the run's log"), std::string::npos) << run.demo.err;
  for (const ExpectedItem& item : kItems) {
    SCOPED_TRACE(item.name);
    const std::regex line("^ +" + std::to_string(item.id) + "  " + item.name +
                          " +Finished( with warnings)? \\(status [12], [0-9.]+ s, [0-9]+ plot "
                          "files?\\)$");
    int matches = 0;
    for (const std::string& l : Lines(run.demo.out)) matches += std::regex_match(l, line);
    EXPECT_EQ(matches, 1) << run.demo.out;
  }
  const CliResult status = RunPramble({"status", run.dir});
  ASSERT_EQ(status.code, 0) << status.err;
  const std::vector<std::string> lines = Lines(status.out);
  ASSERT_EQ(lines.size(), kItems.size()) << status.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_search(lines[i], std::regex("^" + std::to_string(kItems[i].id) + "\t" +
                                                       kItems[i].name + "\t[12]\t")))
        << lines[i];
  }
}

void ExpectEstimatesBesideTheTruth(const DemoRun& run) {
  const std::vector<std::string> lines = Lines(run.demo.out);
  auto at = std::find(lines.begin(), lines.end(), "Estimated number of clusters beside the truth:");
  ASSERT_NE(at, lines.end()) << run.demo.out;
  ASSERT_NE(++at, lines.end());
  EXPECT_TRUE(std::regex_match(*at, std::regex("item  analysis +region  estimate   95% interval "
                                               "  truth  interval holds truth")))
      << *at;

  const std::regex row(
      " *([0-9]*)  (.*?) +(North|South|Total) +([0-9,]+) +([0-9,]+) - ([0-9,]+) +([0-9,]+)  "
      "(yes|no)( \\[([0-9]+)\\])?");
  std::vector<std::smatch> rows;
  for (++at; at != lines.end() && !at->empty() && *at != "Notes:"; ++at) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(*at, m, row)) << *at;
    rows.push_back(m);
  }
  std::map<int, std::string> notes;
  for (; at != lines.end() && !at->empty(); ++at) {
    std::smatch m;
    if (std::regex_match(*at, m, std::regex("  \\[([0-9]+)\\] (.+)"))) notes[std::stoi(m[1])] = m[2];
  }

  std::size_t r = 0;
  for (const ExpectedItem& item : kItems) {
    SCOPED_TRACE(item.name);
    // The stored statistics the table is made of: total, or region 1, 2.
    const CliResult stats = RunPramble({"stats", run.dir, std::to_string(item.id)});
    std::map<int, double> stat;
    for (const std::string& l : Lines(stats.out)) {
      const auto tab = l.find('\t');
      stat[std::stoi(l.substr(0, tab))] = std::stod(l.substr(tab + 1));
    }
    for (std::size_t k = 0; k < item.regions.size(); ++k, ++r) {
      ASSERT_LT(r, rows.size());
      const std::smatch& m = rows[r];
      EXPECT_EQ(m[1].str(), k == 0 ? std::to_string(item.id) : "");
      EXPECT_EQ(m[3].str(), item.regions[k]);
      const long long truth = kTruth.at(item.regions[k]);
      EXPECT_EQ(m[7].str(), WithThousands(truth));
      const int base = 1000 + (item.regions[k] == "North" ? 10 : item.regions[k] == "South" ? 20 : 0);
      EXPECT_EQ(Number(m[4]), std::llround(stat.at(base)));
      EXPECT_EQ(Number(m[5]), std::llround(stat.at(base + 3)));
      EXPECT_EQ(Number(m[6]), std::llround(stat.at(base + 4)));
      const bool holds = stat.at(base + 3) <= truth && truth <= stat.at(base + 4);
      EXPECT_EQ(m[8].str(), holds ? "yes" : "no");
      // Every interval holds the truth or carries a note, and every note is there.
      if (!holds || !item.note.empty()) {
        ASSERT_TRUE(m[9].matched) << m[0];
      }
      if (!item.note.empty()) {
        EXPECT_EQ(m[9].str(), " " + item.note);
      }
      if (m[9].matched) {
        EXPECT_EQ(notes.count(std::stoi(m[10])), 1u) << m[0];
      }
    }
  }
  EXPECT_EQ(r, rows.size());
  EXPECT_EQ(notes[1],
            "ds takes observer 1 to see every cluster on the line, but observer 1's p(0) is 0.80: "
            "expect about 80% of the truth (io and trial estimate p(0)).");
}

void ExpectResultsPlotsAndSurvey(const DemoRun& run) {
  const std::string folder = fs::canonical(run.dir).string();
  EXPECT_NE(run.demo.out.find("\nProject: " + folder + " (the survey as files: " + folder +
                            "/demo-survey)\n"),
            std::string::npos)
      << run.demo.out;
  EXPECT_NE(run.demo.out.find("Results of an item:    pramble results " + run.dir + " ITEM"),
            std::string::npos);
  EXPECT_NE(run.demo.out.find("Plots:                 " + folder + "/ddf.ITEM.NN.png"),
            std::string::npos);
  EXPECT_TRUE(std::regex_search(run.demo.out, std::regex("\nDemo took [0-9.]+ s\\.\n$")));

  // The earlier project and its plot are gone; the demo's plots replaced them.
  EXPECT_EQ(ReadFile(run.dir + "/ddf.1.01.png").substr(0, 4), "\x89PNG");
  for (const char* plot : {"ddf.2.01.png", "ddf.2.06.png", "qq.2.01.png", "ddf.5.02.png"}) {
    EXPECT_TRUE(fs::exists(run.dir + "/" + plot)) << plot;
  }
  const CliResult results = RunPramble({"results", run.dir, "2"});
  EXPECT_EQ(results.code, 0);
  EXPECT_NE(results.out.find("\tDensity Estimates and associated quantities\t"),
            std::string::npos);

  // The survey's files make the demo's project again.
  const CliResult again = RunPramble(
      {"create", run.scratch + "/again", "--from", run.dir + "/demo-survey/project.json"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(RunPramble({"status", run.scratch + "/again"}).out.substr(0, 2), "1\t");
}

// One run of the real demo (it takes a few seconds): over an earlier demo
// project that has been run since (its item lock and a plot file of its
// own), which it replaces.
TEST(Demo, RunsEveryAnalysisAndSetsEstimatesBesideTheTruth) {
  TempDir temp;
  DemoRun run{temp.path(), temp.path() + "/demo", {}};
  const CliResult created = RunPramble({"create", run.dir, "--from", kExample});
  ASSERT_EQ(created.code, 0) << created.err;
  ASSERT_EQ(RunPramble({"settings", run.dir, "set", "Demo", "Seed", "7"}).code, 0);
  const CliResult earlier = RunPramble({"reset", run.dir, "1"});
  ASSERT_EQ(earlier.code, 0) << earlier.err;
  ASSERT_TRUE(fs::exists(run.dir + "/.locks"));
  WriteFile(run.dir + "/ddf.1.01.png", "old plot");
  run.demo = RunPramble({"demo", run.dir});
  {
    SCOPED_TRACE("items");
    ExpectEveryItemFinished(run);
  }
  {
    SCOPED_TRACE("table");
    ExpectEstimatesBesideTheTruth(run);
  }
  {
    SCOPED_TRACE("results, plots and survey files");
    ExpectResultsPlotsAndSurvey(run);
  }
}

// Folders the demo will not replace: the message names the folder and why,
// the exit code is 73, and nothing in the folder changes.
struct Refusal {
  const char* name;
  // Makes the folder at `dir` (in `temp`) and answers the folder to name and
  // the folder to run in ("" for the test's own).
  std::pair<std::string, std::string> (*make)(const std::string& temp, const std::string& dir);
  const char* why;  // "%s" stands for the folder named
};

void CreateExample(const std::string& dir) {
  const CliResult created = RunPramble({"create", dir, "--from", kExample});
  EXPECT_EQ(created.code, 0) << created.err;
}

const Refusal kRefusals[] = {
    {"File",
     [](const std::string&, const std::string& dir) {
       WriteFile(dir, "a file");
       return std::make_pair(dir, std::string());
     },
     "it is not a folder"},
    {"FolderOfOtherFiles",
     [](const std::string&, const std::string& dir) {
       fs::create_directory(dir);
       WriteFile(dir + "/notes.txt", "mine");
       return std::make_pair(dir, std::string());
     },
     "it is neither empty nor a project made by pramble demo ('%s' is not a pramble project: it "
     "has no project.db (make a project with 'pramble create'))"},
    {"ProjectMadeByCreate",
     [](const std::string&, const std::string& dir) {
       CreateExample(dir);
       return std::make_pair(dir, std::string());
     },
     "it is a project that pramble demo did not make"},
    {"SymbolicLink",
     [](const std::string& temp, const std::string& dir) {
       CreateExample(temp + "/target");
       fs::create_directory_symlink(temp + "/target", dir);
       return std::make_pair(dir, std::string());
     },
     "it is a symbolic link"},
    {"CurrentFolder",
     [](const std::string&, const std::string& dir) {
       CreateExample(dir);
       return std::make_pair(std::string("."), dir);
     },
     "it holds the current folder"},
    {"ParentOfTheCurrentFolder",
     [](const std::string&, const std::string& dir) {
       CreateExample(dir);
       fs::create_directory(dir + "/demo-survey");
       return std::make_pair(std::string(".."), dir + "/demo-survey");
     },
     "it holds the current folder"},
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class DemoRefusal : public ::testing::TestWithParam<Refusal> {};

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::is_directory(dir)) return {{dir, ReadFile(dir)}};
  for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
    files[e.path().string()] = e.is_regular_file() ? std::to_string(e.file_size()) : "folder";
  }
  return files;
}

TEST_P(DemoRefusal, LeavesTheFolderAlone) {
  const Refusal& refusal = GetParam();
  TempDir temp;
  const std::string dir = temp.path() + "/demo";
  const auto [named, cwd] = refusal.make(temp.path(), dir);
  const auto before = Snapshot(dir);
  const CliResult r = RunPramble({"demo", named}, {}, cwd);
  std::string why = refusal.why;
  if (const auto at = why.find("%s"); at != std::string::npos) why.replace(at, 2, named);
  EXPECT_EQ(r.code, 73);
  EXPECT_EQ(r.err, "pramble demo: will not replace '" + named + "': " + why +
                       ". Name another folder for the demo: pramble demo OTHER-FOLDER\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Snapshot(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Folders, DemoRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace pramble::testing
