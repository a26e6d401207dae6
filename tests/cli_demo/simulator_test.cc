// The demo's survey simulator and project: the same seed gives the same
// survey (pinned to the numbers this seed gave when the demo was written, so
// that a machine whose arithmetic or library differs shows up), the survey
// keeps the rules of its model, and its description makes a real project,
// inline and from the files the demo writes beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "pramble/host/dao.h"
#include "sqlhost/demo/demo_project.h"
#include "sqlhost/demo/survey_simulator.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/project.h"
#include "pramble/host/value.h"
#include "support/test_project.h"

namespace pramble::demo {
namespace {

using Record = std::tuple<std::int32_t, std::int32_t, double, std::int32_t, std::int32_t,
                          std::int32_t, std::int32_t, std::string>;

Record AsTuple(const ObservationRecord& o) {
  return {o.id, o.transect_id, o.distance_m, o.object, o.observer, o.detected, o.size, o.sex};
}

std::vector<Record> Records(const SimulatedSurvey& survey) {
  std::vector<Record> records;
  for (const ObservationRecord& o : survey.observations) records.push_back(AsTuple(o));
  return records;
}

// The demo's own survey, as every machine must make it.
TEST(SurveySimulator, DemoSeedGivesThePinnedSurvey) {
  const SimulatedSurvey s = SimulateSurvey(DemoSurveyDesign());
  EXPECT_EQ((std::vector<std::int64_t>{s.truth.regions[0].clusters, s.truth.regions[1].clusters,
                                       s.truth.total.clusters, s.truth.regions[0].individuals,
                                       s.truth.regions[1].individuals, s.truth.total.individuals,
                                       s.clusters_searched, s.detected_by_1, s.detected_by_2,
                                       s.detected_by_both}),
            (std::vector<std::int64_t>{2400, 3600, 6000, 6010, 8956, 14966, 464, 132, 116, 65}));
  EXPECT_EQ(Records(s), Records(SimulateSurvey(DemoSurveyDesign())));
  EXPECT_NE(Records(s), Records(SimulateSurvey(DemoSurveyDesign(8))));
  ASSERT_EQ(s.observations.size(), 366u);
  EXPECT_EQ(AsTuple(s.observations[0]), Record(1, 1, 13.05, 1, 1, 1, 2, "M"));
  EXPECT_EQ(AsTuple(s.observations[3]), Record(4, 1, 3.08, 2, 2, 1, 4, "F"));
  EXPECT_EQ(AsTuple(s.observations[365]), Record(366, 17, 29.05, 183, 2, 1, 4, "M"));
}

TEST(SurveySimulator, SurveyKeepsTheModelsRules) {
  for (const std::uint64_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const SurveyDesign design = DemoSurveyDesign(seed);
    const SimulatedSurvey s = SimulateSurvey(design);
    ASSERT_EQ(s.transects.size(), 17u);
    EXPECT_EQ(std::tuple(s.transects[0].label, s.transects[8].label, s.transects[8].region_id),
              std::tuple("N1", "S1", 2));
    ASSERT_EQ(s.observations.size() % 2, 0u);
    std::int64_t by1 = 0, by2 = 0, both = 0;
    for (std::size_t i = 0; i < s.observations.size(); i += 2) {
      const ObservationRecord& o1 = s.observations[i];
      const ObservationRecord& o2 = s.observations[i + 1];
      // Each detected cluster: observer 1's record, then observer 2's, the
      // same cluster, seen by at least one of them.
      EXPECT_EQ(std::tuple(o1.object, o1.id, o1.observer, o2.observer),
                (std::tuple<std::int32_t, std::int32_t, int, int>(i / 2 + 1, i + 1, 1, 2)));
      EXPECT_EQ(std::tie(o1.object, o1.transect_id, o1.distance_m, o1.size, o1.sex),
                std::tie(o2.object, o2.transect_id, o2.distance_m, o2.size, o2.sex));
      EXPECT_TRUE(o1.detected || o2.detected);
      EXPECT_TRUE(o1.distance_m >= 0 && o1.distance_m <= design.searched_m) << o1.distance_m;
      EXPECT_DOUBLE_EQ(o1.distance_m * 100, std::round(o1.distance_m * 100));
      EXPECT_TRUE(o1.size >= 1 && (o1.sex == "F" || o1.sex == "M"));
      EXPECT_LE(s.observations[i > 0 ? i - 1 : 0].transect_id, o1.transect_id);
      by1 += o1.detected;
      by2 += o2.detected;
      both += o1.detected && o2.detected;
    }
    EXPECT_EQ(std::tuple(by1, by2, both),
              std::tuple(s.detected_by_1, s.detected_by_2, s.detected_by_both));
  }
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
  ASSERT_EQ(demo.analyses.size(), 6u);

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
  EXPECT_EQ(TableRows(*inline_project, "Observation").size(), survey.observations.size());
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
  const SurveyDesign design = DemoSurveyDesign();
  for (const DemoAnalysis& a : MakeDemoProject(SimulateSurvey(design)).analyses) {
    SCOPED_TRACE(a.name);
    EXPECT_EQ(ExpectedBiasNote(a, design).has_value(), a.method == "ds");
  }
  DemoAnalysis ds;
  ds.method = "ds";
  EXPECT_EQ(*ExpectedBiasNote(ds, design),
            "ds takes observer 1 to see every cluster on the line, but observer 1's p(0) is "
            "0.80: expect about 80% of the truth (io and trial estimate p(0))");
  SurveyDesign certain = design;
  certain.p0_observer1 = 1;
  EXPECT_FALSE(ExpectedBiasNote(ds, certain).has_value());
}

}  // namespace
}  // namespace pramble::demo
