// The demo's survey simulator and project, and the command line's table
// printer: the demo's seed gives the survey of tests/data/demo/survey.txt
// (written when the demo was made, so that a machine whose arithmetic or
// library differs shows up), its description makes a real project, inline
// and from the files the demo writes beside it; the printer prints the
// texts of tests/data/table_printer; and the names of the files in a project
// folder that the demo counts and reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "pramble/host/dao.h"
#include "pramble/host/value.h"
#include "sqlhost/cli/table_printer.h"
#include "sqlhost/demo/demo_project.h"
#include "sqlhost/demo/survey_simulator.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/file_names.h"
#include "sqlhost/project/project.h"
#include "support/test_project.h"

namespace pramble::demo {
namespace {

using cli::Align;
using cli::OutputFormat;
using cli::TablePrinter;
using cli::WithThousands;

// A survey as text: the counts, then a line a transect and a record.
std::string Text(const SimulatedSurvey& s) {
  std::ostringstream out;
  for (const Count& c : {s.truth.regions[0], s.truth.regions[1], s.truth.total})
    out << "truth " << c.clusters << " " << c.individuals << "\n";
  out << "searched " << s.clusters_searched << " detected " << s.detected_by_1 << " "
      << s.detected_by_2 << " " << s.detected_by_both << "\n";
  for (const Transect& t : s.transects)
    out << "transect " << t.id << " " << t.region_id << " " << t.label << " " << t.length_km << "\n";
  char distance[32];
  for (const ObservationRecord& o : s.observations) {
    std::snprintf(distance, sizeof distance, "%.2f", o.distance_m);
    out << o.id << " " << o.transect_id << " " << distance << " " << o.object << " " << o.observer
        << " " << o.detected << " " << o.size << " " << o.sex << "\n";
  }
  return out.str();
}

TEST(SurveySimulator, DemoSeedGivesTheSurveyOfItsFile) {
  const std::string survey = Text(SimulateSurvey(DemoSurveyDesign()));
  EXPECT_EQ(survey, testing::ReadFile(PRAMBLE_SOURCE_DIR "/tests/data/demo/survey.txt"));
  EXPECT_NE(survey, Text(SimulateSurvey(DemoSurveyDesign(8))));
}

// The rows of a layer's table, as text, in ID order.
std::vector<std::string> TableRows(sqlhost::Project& project, const std::string& table) {
  auto rs = project.DataDatabase().OpenRecordset("SELECT * FROM [" + table + "] ORDER BY [ID]");
  std::vector<std::string> rows;
  for (; !rs->Eof(); rs->MoveNext()) {
    rows.emplace_back();
    for (std::int32_t f = 0; f < rs->FieldCount(); ++f)
      rows.back() += host::ToText(rs->Fields(f).GetValue()) + "|";
  }
  rs->Close();
  return rows;
}

TEST(DemoProject, DescriptionAndItsFilesMakeTheSameProject) {
  const SimulatedSurvey survey = SimulateSurvey(DemoSurveyDesign());
  const DemoProject demo = MakeDemoProject(survey);
  ASSERT_EQ(demo.analyses.size(), 7u);

  testing::TempDir temp;
  const std::string files = temp.path() + "/survey";
  std::filesystem::create_directory(files);
  WriteDemoSurveyFiles(files, survey, demo);
  sqlhost::CreateProjectFromJson(temp.path() + "/inline",
                                 nlohmann::json::parse(demo.description.dump()), "");
  sqlhost::CreateProject(temp.path() + "/from-files", files + "/project.json");

  auto inline_project = sqlhost::Project::Open(temp.path() + "/inline");
  auto file_project = sqlhost::Project::Open(temp.path() + "/from-files");
  for (const char* table : {"Study area", "Region", "Line transect", "Observation"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(TableRows(*inline_project, table), TableRows(*file_project, table));
  }
  EXPECT_EQ(TableRows(*inline_project, "Region"),
            (std::vector<std::string>{"1|1|North|60|", "2|1|South|90|"}));

  const std::vector<sqlhost::ItemInfo> items = file_project->ListItems();
  ASSERT_EQ(items.size(), demo.analyses.size());
  for (std::size_t i = 0; i < items.size(); ++i)
    EXPECT_EQ(std::tie(items[i].id, items[i].name), std::tie(demo.analyses[i].id, demo.analyses[i].name));
  const auto truth = nlohmann::json::parse(testing::ReadFile(files + "/truth.json"));
  EXPECT_EQ(truth["clusters_total"], 6000);
  EXPECT_EQ(truth["clusters_by_region"]["South"], 3600);
  EXPECT_EQ(truth["individuals_total"], 14966);
  EXPECT_EQ(truth["seed"], kDemoSeed);
}

TEST(DemoProject, OnlyDsCarriesAnExpectedBiasNote) {
  SurveyDesign design = DemoSurveyDesign();
  for (const DemoAnalysis& a : MakeDemoProject(SimulateSurvey(design)).analyses)
    EXPECT_EQ(ExpectedBiasNote(a, design).has_value(), a.method == "ds") << a.name;
  DemoAnalysis ds;
  ds.method = "ds";
  EXPECT_EQ(ExpectedBiasNote(ds, design).value_or(""),
            "ds takes observer 1 to see every cluster on the line, but observer 1's p(0) is "
            "0.80: expect about 80% of the truth (io and trial estimate p(0))");
  design.p0_observer1 = 1;  // then ds is right
  EXPECT_FALSE(ExpectedBiasNote(ds, design).has_value());
}

TEST(TablePrinterTest, PrintsTheRowsInEachFormat) {
  TablePrinter table({{"item", 4, Align::kRight}, {"region"}, {"estimate", 0, Align::kRight},
                      {"note"}});
  table.AddRow({"1", "North", WithThousands(12345.6), "a, \"b\""});
  table.AddRow({"", "Total", WithThousands(-999.4), ""});
  for (const auto& [name, format] : {std::pair{"text", OutputFormat::kText},
                                     {"csv", OutputFormat::kCsv}, {"json", OutputFormat::kJson}}) {
    std::ostringstream out;
    table.Print(out, format);
    EXPECT_EQ(out.str(), testing::ReadFile(std::string(PRAMBLE_SOURCE_DIR "/tests/data/table_printer/") +
                                           name));
  }
}

TEST(FileNamesTest, RecognisesWhatTheHostMakes) {
  using sqlhost::FileType;
  const std::tuple<std::string, std::optional<FileType>, std::int32_t> cases[] = {
      {"project.db", FileType::kProjectDatabase, 0}, {"data.db", FileType::kDataDatabase, 0},
      {".locks", FileType::kLocksFolder, 0},         {".locks/item-12.lock", FileType::kItemLock, 12},
      {"ddf.12.01.png", FileType::kPlot, 12},        {"qq.7.103.wmf", FileType::kPlot, 7},
      {"ddf.12.1.png", {}, 0},                       {"ddf.012.01.png", {}, 0},
      {"ddf.12.01.txt.bak", {}, 0},                  {"gof.12.01.png", {}, 0},
      {".locks/item-x.lock", {}, 0},                 {"project.db-wal", {}, 0},
  };
  for (const auto& [name, type, id] : cases) {
    SCOPED_TRACE(name);
    const auto parsed = sqlhost::ParseFileName(name);
    ASSERT_EQ(parsed.has_value(), type.has_value());
    if (!parsed) continue;
    EXPECT_EQ(std::pair(parsed->type, parsed->id), std::pair(*type, id));
  }
  EXPECT_EQ(sqlhost::ItemLockFile("/p", 12), "/p/.locks/item-12.lock");
  EXPECT_EQ(sqlhost::PlotFileName({"ddf", 12, 3, "png"}), "ddf.12.03.png");
}

TEST(FileNamesTest, StatisticCodesFollowTheLayout) {
  using sqlhost::StatKind;
  using sqlhost::StatQuantity;
  // docs/statistic-codes.md: 1013 the lower limit of the cluster abundance in
  // region 1, 2025 the degrees of freedom of the cluster density in region 2.
  EXPECT_EQ(sqlhost::DensityStatCode(StatKind::kClusterAbundance, 1, StatQuantity::kLcl), 1013);
  EXPECT_EQ(sqlhost::DensityStatCode(StatKind::kClusterDensity, 2, StatQuantity::kDf), 2025);
  const auto parsed = sqlhost::ParseDensityStatCode(6012);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(std::tuple(parsed->kind, parsed->region, parsed->quantity),
            std::tuple(StatKind::kSurveyFigures, 1, 2));
  EXPECT_FALSE(sqlhost::ParseDensityStatCode(40).has_value());
}

}  // namespace
}  // namespace pramble::demo
