// The real `pramble demo`, once, with R: it replaces an earlier project,
// every item finishes, the table sets each estimate beside the truth with
// an interval that holds it or a note, and the survey's files make the same
// project again. Then the folders that the demo refuses to replace.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "sqlhost/project/description.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

const std::string kExample = PRAMBLE_EXAMPLES_DIR "/double-observer/project.json";

long long Number(const std::string& text) { return std::stoll(std::regex_replace(text, std::regex(","), "")); }

struct ExpectedItem {
  int id;
  std::string name;
  std::vector<std::string> regions;
  bool ds;  // carries note [1]
};
const ExpectedItem kItems[] = {
    {1, "ds, observer 1, exact distances, by region", {"North", "South", "Total"}, true},
    {2, "io, exact distances, by region", {"North", "South", "Total"}, false},
    {3, "io, 10 m bands, sex as covariate, whole area", {"Total"}, false},
    {4, "trial, exact distances, whole area", {"Total"}, false},
    {5, "trial, 10 m bands, by region", {"North", "South", "Total"}, false},
    {6, "ds, observer 1, 10 m bands, whole area", {"Total"}, true},
    {7, "io, half-normal, exact distances, by region", {"North", "South", "Total"}, false},
};
const std::map<std::string, std::pair<long long, int>> kRegions = {  // truth, statistic base
    {"North", {2400, 1010}}, {"South", {3600, 1020}}, {"Total", {6000, 1000}}};

// One run of the real demo (it takes a few seconds) over an earlier demo
// project that has been run since (its item lock and a plot file of its
// own), which it replaces.
TEST(Demo, RunsEveryAnalysisAndSetsEstimatesBesideTheTruth) {
  TempDir temp;
  const std::string dir = temp / "demo", folder = fs::weakly_canonical(dir).string();
  sqlhost::CreateProject(dir, kExample);
  ASSERT_EQ(RunPramble({"settings", dir, "set", "Demo", "Seed", "7"}).code, 0);
  ASSERT_EQ(RunPramble({"reset", dir, "1"}).code, 0);
  ASSERT_TRUE(fs::exists(dir + "/.locks"));
  WriteFile(dir + "/ddf.1.01.png", "old plot");
  const Outcome demo = RunPramble({"demo", dir});
  ASSERT_EQ(demo.code, 0) << demo.out << demo.err;
  EXPECT_FALSE(Has(demo.err, "the end of the run's log")) << demo.err;
  const std::vector<std::string> lines = Lines(demo.out);
  for (const ExpectedItem& item : kItems) {
    SCOPED_TRACE(item.name);
    const std::regex line("^ +" + std::to_string(item.id) + "  " + item.name +
                          " +Finished( with warnings)? \\(status [12], [0-9.]+ s, [0-9]+ plot "
                          "files?\\)$");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& l) { return std::regex_match(l, line); }), 1);
  }

  // The table: its rows, then its notes.
  auto at = std::find(lines.begin(), lines.end(), "Estimated number of clusters beside the truth:");
  ASSERT_NE(at, lines.end()) << demo.out;
  ASSERT_NE(++at, lines.end());
  EXPECT_TRUE(std::regex_match(
      *at, std::regex("item  analysis +region  estimate   95% interval   truth  interval holds truth")))
      << *at;
  const std::regex row(
      " *([0-9]*)  (.*?) +(North|South|Total) +([0-9,]+) +([0-9,]+) - ([0-9,]+) +([0-9,]+)  "
      "(yes|no)( \\[([0-9]+)\\])?");
  std::vector<std::smatch> rows;
  for (++at; at != lines.end() && !at->empty() && *at != "Notes:"; ++at) {
    ASSERT_TRUE(std::regex_match(*at, rows.emplace_back(), row)) << *at;
  }
  std::map<int, std::string> notes;
  for (std::smatch m; at != lines.end() && !at->empty(); ++at)
    if (std::regex_match(*at, m, std::regex("  \\[([0-9]+)\\] (.+)"))) notes[std::stoi(m[1])] = m[2];
  EXPECT_EQ(notes[1],
            "ds takes observer 1 to see every cluster on the line, but observer 1's p(0) is 0.80: "
            "expect about 80% of the truth (io and trial estimate p(0)).");

  // Each row is the item's stored statistics (total, or region 1, 2): every
  // interval holds the truth or carries a note, and every note is there.
  std::size_t r = 0;
  for (const ExpectedItem& item : kItems) {
    SCOPED_TRACE(item.name);
    std::map<int, double> stat;
    for (const std::string& l : Lines(RunPramble({"stats", dir, std::to_string(item.id)}).out))
      stat[std::stoi(l.substr(0, l.find('\t')))] = std::stod(l.substr(l.find('\t') + 1));
    for (std::size_t k = 0; k < item.regions.size(); ++k, ++r) {
      ASSERT_LT(r, rows.size());
      const std::smatch& m = rows[r];
      const auto [truth, base] = kRegions.at(item.regions[k]);
      EXPECT_EQ(m[1].str(), k == 0 ? std::to_string(item.id) : "");
      EXPECT_EQ(m[3].str(), item.regions[k]);
      EXPECT_EQ(Number(m[7]), truth);
      EXPECT_EQ(m[7].str().find(','), m[7].str().size() - 4);  // thousands separated
      EXPECT_EQ(Number(m[4]), std::llround(stat.at(base)));
      EXPECT_EQ(Number(m[5]), std::llround(stat.at(base + 3)));
      EXPECT_EQ(Number(m[6]), std::llround(stat.at(base + 4)));
      const bool holds = stat.at(base + 3) <= truth && truth <= stat.at(base + 4);
      EXPECT_EQ(m[8].str(), holds ? "yes" : "no");
      EXPECT_EQ(m[9].matched, !holds || item.ds) << m[0];
      EXPECT_TRUE(!item.ds || m[9].str() == " [1]") << m[0];
      EXPECT_TRUE(!m[9].matched || notes.count(std::stoi(m[10])) == 1) << m[0];
    }
  }
  EXPECT_EQ(r, rows.size());

  // Where the results, plots and survey are; the earlier plot was replaced.
  for (const std::string& part :
       {"\nProject: " + folder + " (the survey as files: " + folder + "/demo-survey)\n",
        "Results of an item:    pramble results " + dir + " ITEM",
        "Plots:                 " + folder + "/ddf.ITEM.NN.png",
        "Report:                " + folder + "/report.html (open it in a browser)\n"})
    EXPECT_TRUE(Has(demo.out, part)) << part;
  EXPECT_TRUE(Has(ReadFile(dir + "/report.html"), "<section id=\"item-7\">"));
  // The two io candidates on the same data are ranked together; every
  // group holds one method.
  const auto groups = nlohmann::json::parse(RunPramble({"compare", dir, "--format", "json"}).out)["groups"];
  std::set<int> io_exact;
  for (const auto& g : groups) {
    std::set<std::string> methods;
    for (const auto& i : g["items"]) methods.insert(i["method"].get<std::string>());
    EXPECT_EQ(methods.size(), 1u) << g.dump();
    if (g["items"].size() == 2u) io_exact = {g["items"][0]["item"], g["items"][1]["item"]};
  }
  EXPECT_EQ(io_exact, (std::set<int>{2, 7})) << groups.dump();
  EXPECT_TRUE(std::regex_search(demo.out, std::regex("\nDemo took [0-9.]+ s\\.\n$")));
  EXPECT_EQ(ReadFile(dir + "/ddf.1.01.png").substr(0, 4), "\x89PNG");
  for (const char* plot : {"ddf.2.01.png", "ddf.2.06.png", "qq.2.01.png", "ddf.5.02.png"})
    EXPECT_TRUE(fs::exists(dir + "/" + plot)) << plot;
  EXPECT_TRUE(Has(RunPramble({"results", dir, "2"}).out,
                  "\tDensity Estimates and associated quantities\t"));
  // The survey's files make the demo's project again.
  const Outcome again =
      RunPramble({"create", temp / "again", "--from", dir + "/demo-survey/project.json"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(RunPramble({"status", temp / "again"}).out.substr(0, 2), "1\t");
}

// Folders the demo will not replace (tests/data/demo/refusals.tsv): the
// message names the folder and why, the exit code is 73, and nothing in the
// folder changes.
class DemoRefusal : public ::testing::TestWithParam<std::vector<std::string>> {};

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  if (!fs::is_directory(dir)) return {{dir, ReadFile(dir)}};
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    files[e.path().string()] = e.is_regular_file() ? std::to_string(e.file_size()) : "folder";
  return files;
}

TEST_P(DemoRefusal, LeavesTheFolderAlone) {
  // name, what is at DIR (a file, other files, a project, a link to a project), the
  // folder named ("" for DIR), the folder to run in under DIR ("-": the test's own),
  // why ("%s" for the folder named)
  const std::vector<std::string>& c = GetParam();
  TempDir temp;
  const std::string dir = temp / "demo", make = c[1];
  if (make == "file") WriteFile(dir, "a file");
  if (make == "other") fs::create_directory(dir), WriteFile(dir + "/notes.txt", "mine");
  if (make == "project") sqlhost::CreateProject(dir, kExample);
  if (make == "link") sqlhost::CreateProject(temp / "target", kExample);
  if (make == "link") fs::create_directory_symlink(temp / "target", dir);
  const std::string cwd = c[3] == "-" ? "" : dir + c[3];
  if (!cwd.empty()) fs::create_directories(cwd);
  const std::string named = c[2].empty() ? dir : c[2];
  const auto before = Snapshot(dir);
  const Outcome r = RunPramble({"demo", named}, {}, cwd);
  std::string why = c[4];
  if (const auto at = why.find("%s"); at != std::string::npos) why.replace(at, 2, named);
  EXPECT_EQ(r.code, 73);
  EXPECT_EQ(r.err, "pramble demo: will not replace '" + named + "': " + why +
                       ". Name another folder for the demo: pramble demo OTHER-FOLDER\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Snapshot(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Folders, DemoRefusal, ::testing::ValuesIn(ReadTable("demo/refusals.tsv")),
                         [](const auto& info) { return info.param[0]; });

}  // namespace
}  // namespace pramble::testing
