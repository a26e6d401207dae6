// What an analyst does after the runs: the estimates at full precision with
// their units (read back by R), the AIC comparison that ranks only within a
// group of the same data and method, and the HTML report opened in headless
// Chromium. Real runs of R on the example project; the grouping on items
// whose statistics the test sets.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sqlhost/analysis/comparison.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/project_growth.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

using nlohmann::json;

std::string Model(const std::string& method, const std::string& key) {
  return "Method " + method + "; DSModel /Method=cds /Key=" + key +
         " /Formula=1; MRModel /Method=glm /Link=logit /Formula=distance; Detection T; "
         "Density T /VarFlag=1; Stratification Stratify /LayerType=10;";
}

std::string Words0(const std::string& text, int i) { return Words(text).at(i); }

TEST(CompareGroupsTest, RanksByAicOnlyWithinTheSameDataAndMethod) {
  TempDir temp;
  json d = ExampleDescription();
  d["data_filters"].push_back(
      {{"id", 2}, {"name", "bands"}, {"definition", "Distance /Width=50 /Left=0 /Intervals=0,10,20,30,40,50;"}});
  d["model_definitions"] = json::array();
  d["analyses"] = json::array();
  const auto rows = ReadTable("analysis/groups.tsv");
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const auto& row = rows[r];
    const int id = std::stoi(row[0]);
    d["model_definitions"].push_back(
        {{"id", id}, {"name", row[1]}, {"definition", Model(Words0(row[1], 0), Words0(row[1], 1))}});
    d["analyses"].push_back({{"id", id}, {"name", row[1]}, {"survey", 1},
                             {"data_filter", std::stoi(row[2])}, {"model_definition", id}});
  }
  sqlhost::CreateProjectFromJson(temp / "p", d, "");
  auto project = sqlhost::Project::Open(temp / "p");
  for (std::size_t r = 1; r < rows.size(); ++r) {
    if (rows[r][3] == "-") continue;
    project->project_database().connection().Exec(
        "INSERT INTO analysis_stats (analysis_id, code, value) VALUES (" + rows[r][0] + ", 1, " +
        rows[r][3] + "), (" + rows[r][0] + ", 3, " + rows[r][4] + "), (" + rows[r][0] +
        ", 10, 50), (" + rows[r][0] + ", 1000, 1234.5)");
  }
  const sqlhost::Comparison c = sqlhost::CompareItems(*project, {});
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const int id = std::stoi(rows[r][0]);
    const std::size_t group = std::stoul(rows[r][5]);
    ASSERT_LE(group, c.groups.size()) << "item " << id;
    const auto& items = c.groups[group - 1].items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const sqlhost::ComparedItem& i) { return i.id == id; });
    ASSERT_NE(it, items.end()) << "item " << id << " is not in group " << group;
    if (rows[r][6] == "-") {
      EXPECT_FALSE(c.groups[group - 1].ranked);
    } else {
      EXPECT_EQ(it->delta_aic, std::stod(rows[r][6])) << "item " << id;
    }
  }
  EXPECT_EQ(c.groups.size(), 6u);
}

// Three runs of R (io with two keys, trial) feed the three checks; one test,
// so that the runs are made once.
class AnalystTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlhost::CreateProject(dir_, PRAMBLE_EXAMPLES_DIR "/double-observer/project.json");
    auto project = sqlhost::Project::Open(dir_);
    sqlhost::AddModelItem(*project, Model("io", "hr"), "io, hr", 1);
    sqlhost::AddModelItem(*project, Model("trial", "hn"), "trial, hn", 1);
    for (const char* id : {"1", "2", "3"}) {
      const Outcome run = RunPramble({"run", dir_, id, "--quiet"});
      ASSERT_EQ(run.code, 0) << run.err;
    }
  }
  std::string Run(std::vector<std::string> args) {
    args.insert(args.begin() + 1, dir_);
    const Outcome o = RunPramble(args);
    EXPECT_EQ(o.code, 0) << o.err;
    return o.out;
  }
  void Estimates();
  void Compare();
  void Report();
  TempDir temp_;
  const std::string dir_ = temp_ / "survey project";
};

TEST_F(AnalystTest, EstimatesCompareAndReportOfThreeRuns) {
  {
    SCOPED_TRACE("estimates");
    Estimates();
  }
  {
    SCOPED_TRACE("compare");
    Compare();
  }
  {
    SCOPED_TRACE("report");
    Report();
  }
}

// The numbers are the run's at full precision, with their units.
void AnalystTest::Estimates() {
  const json e = json::parse(Run({"estimates", "1", "--format", "json"}));
  EXPECT_EQ(e["precision"], "full");
  EXPECT_EQ(e["units"], json({{"distance", "Meter"}, {"effort", "Kilometer"}, {"area", "Square kilometer"}}));
  const json schema = json::parse(ReadFile(std::string(PRAMBLE_SOURCE_DIR) + "/docs/estimates.schema.json"));
  for (const auto& key : schema["required"]) EXPECT_TRUE(e.contains(key)) << key;
  // Every row has the schema's keys, each value of a type the schema allows.
  const json& item = schema["properties"]["estimates"]["items"];
  auto allows = [](const json& property, const json& value) {
    if (property.contains("enum")) return std::find(property["enum"].begin(), property["enum"].end(), value) != property["enum"].end();
    const json types = property["type"].is_array() ? property["type"] : json::array({property["type"]});
    for (const auto& t : types)
      if ((t == "number" && value.is_number()) || (t == "null" && value.is_null()) ||
          (t == "string" && value.is_string()))
        return true;
    return false;
  };
  ASSERT_GT(e["estimates"].size(), 20u);
  for (const auto& row : e["estimates"]) {
    for (const auto& key : item["required"]) {
      ASSERT_TRUE(row.contains(key)) << key << " in " << row;
      EXPECT_TRUE(allows(item["properties"][key.get<std::string>()], row[key.get<std::string>()])) << key << " in " << row;
    }
  }
  // The 32-bit statistics the engine stored are the same numbers, rounded.
  auto project = sqlhost::Project::Open(dir_);
  const auto record = sqlhost::ReadRunRecord(*project, 1);
  ASSERT_TRUE(record && record->precise);
  EXPECT_EQ(record->region_labels.size(), 2u);
  for (const sqlhost::ItemStat& s : project->ItemStats(1)) {
    ASSERT_TRUE(record->stats.count(s.code)) << s.code;
    EXPECT_LE(std::fabs(static_cast<float>(record->stats.at(s.code)) - s.value),
              std::fabs(s.value) * 1.2e-7f) << s.code;
  }
  // R reads the CSV, and its numbers are those the run printed.
  TempDir temp;
  WriteFile(temp / "e.csv", Run({"estimates", "1", "--format", "csv"}));
  WriteFile(temp / "out.txt", Run({"results", "1"}));
  WriteFile(temp / "check.R", Fill(ReadFile(DataPath("analysis/check_estimates.R")),
                                   {{"{CSV}", temp / "e.csv"}, {"{OUTPUT}", temp / "out.txt"}}));
  const std::string checked = RunRscript(temp / "check.R");
  EXPECT_TRUE(Has(checked, "checked 60 numbers")) << checked;
}

// The io models are ranked; trial stands in a group of its own.
void AnalystTest::Compare() {
  const json c = json::parse(Run({"compare", "--format", "json"}));
  ASSERT_EQ(c["groups"].size(), 2u) << c.dump(1);
  for (const json& g : c["groups"]) {
    std::set<std::string> methods;
    for (const json& i : g["items"]) methods.insert(i["method"].get<std::string>());
    EXPECT_EQ(methods.size(), 1u) << g.dump(1);
    EXPECT_EQ(g["items"][0]["delta AIC"], 0.0);
  }
  const json& io = c["groups"][0]["items"];
  ASSERT_EQ(io.size(), 2u);
  EXPECT_LT(io[0]["AIC"].get<double>(), io[1]["AIC"].get<double>());
  EXPECT_DOUBLE_EQ(io[1]["delta AIC"].get<double>(),
                   io[1]["AIC"].get<double>() - io[0]["AIC"].get<double>());
}

// The report opens in Chromium with every table and plot, and shows.
void AnalystTest::Report() {
  TempDir temp;
  const std::string report = temp / "report.html";
  const Outcome written = RunPramble({"report", dir_, "--all", "-o", report});
  ASSERT_EQ(written.code, 0) << written.err;
  std::size_t plots = 0;
  for (const auto& f : std::filesystem::directory_iterator(dir_)) {
    const std::string name = f.path().filename().string();
    plots += (name.rfind("ddf.", 0) == 0 || name.rfind("qq.", 0) == 0) && name.ends_with(".png");
  }
  ASSERT_GT(plots, 3u);
  const std::string html = ReadFile(report);
  EXPECT_FALSE(Has(html, "http://") || Has(html, "https://") || Has(html, "<script"));
  WriteFile(temp / "checked.html", html + ReadFile(DataPath("analysis/check_report.html")));
  const std::vector<std::string> chromium = {"--headless", "--no-sandbox", "--disable-gpu",
                                             "--user-data-dir=" + (temp / "profile")};
  auto browse = [&](std::vector<std::string> args) {
    args.insert(args.begin(), chromium.begin(), chromium.end());
    return RunPramble(args, {"HOME=" + temp.path()}, "", "/usr/bin/chromium");
  };
  const Outcome dom = browse({"--virtual-time-budget=5000", "--dump-dom", "file://" + (temp / "checked.html")});
  // Three items: a comparison table (two groups) and an estimates and a
  // goodness-of-fit table each.
  const std::string counts = "tables 8 images " + std::to_string(plots) + " decoded " + std::to_string(plots);
  EXPECT_TRUE(Has(dom.out, "<title>" + counts + "</title>")) << dom.out.substr(0, 300) << dom.err;
  const Outcome shot = browse({"--window-size=1200,1600", "--screenshot=" + (temp / "shot.png"), "file://" + report});
  EXPECT_GT(std::filesystem::file_size(temp / "shot.png"), 40000u) << shot.err;
}

}  // namespace
}  // namespace pramble::testing
