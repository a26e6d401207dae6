// Projects from flat field tables: the example survey reshaped into a
// transect and a sightings table makes a project whose starter analyses all
// run; tables that cannot be read are refused with their file, line and
// column (tests/data/flat/cases.tsv).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/flat_tables.h"
#include "sqlhost/project/project_error.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

const std::string kExample = PRAMBLE_EXAMPLES_DIR "/double-observer/";
constexpr char kSightings[] =
    "transect,object,distance,observer,detected\nT1,1,10,1,1\nT1,1,10,2,1\n";
constexpr char kTransects[] = "region,region_area,transect,effort\nA,10,T1,2\n";

class FlatCaseTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(FlatCaseTest, IsRefusedWithItsPlace) {
  const std::vector<std::string>& c = GetParam();
  TempDir temp;
  const std::string s = temp / "s.csv", t = temp / "t.csv";
  const auto text = [](const std::string& cell, const char* good) {
    return cell.empty() ? std::string(good) : Fill(cell, {{"\\n", "\n"}, {"\\t", "\t"}});
  };
  WriteFile(s, text(c[1], kSightings));
  WriteFile(t, text(c[2], kTransects));
  std::string message = "accepted";
  try {
    sqlhost::DescribeFlatTables({s, t});
  } catch (const sqlhost::DescriptionError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, Fill(c[3], {{"SIGHTINGS", s}, {"TRANSECTS", t}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, FlatCaseTest, ::testing::ValuesIn(ReadTable("flat/cases.tsv")),
                         [](const auto& info) { return info.param[0]; });

// The example's transects with their regions' names and areas, one more
// transect without sightings, and its observations under transect labels.
TEST(FlatTablesTest, TheExampleAsFlatTablesRunsEveryStarterAnalysis) {
  TempDir temp;
  const std::map<std::string, std::string> regions = {{"1", "R1,65.9"}, {"2", "R2,102.2"}};
  std::map<std::string, std::string> labels;
  std::string transects = "region,region_area,transect,effort\n";
  for (const auto& r : sqlhost::ReadCsvFile(kExample + "transects.csv", "t")) {
    if (r.line == 1) continue;
    labels[r.cells[0]] = r.cells[2];
    transects += regions.at(r.cells[1]) + "," + r.cells[2] + "," + r.cells[3] + "\n";
  }
  transects += "R2,102.2,T99,3.5\n";
  std::string sightings = "Transect,object,observer,detected,distance,size,sex\n";
  for (const auto& r : sqlhost::ReadCsvFile(kExample + "observations.csv", "o")) {
    if (r.line == 1) continue;
    sightings += labels.at(r.cells[1]) + "," + r.cells[3] + "," + r.cells[4] + "," +
                 r.cells[5] + "," + r.cells[2] + "," + r.cells[6] + "," + r.cells[7] + "\n";
  }
  WriteFile(temp / "sightings.csv", sightings);
  WriteFile(temp / "transects.csv", transects);
  const std::string dir = temp / "flat";
  const Outcome made = RunPramble({"create", dir, "--flat", temp / "sightings.csv",
                                   "--transects", temp / "transects.csv", "--width", "50"});
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_TRUE(Has(made.err, "with 4 layers and 4 analysis items: 2 regions, 13 transects (1 without sightings)")) << made.err;
  EXPECT_TRUE(Has(made.err, "by two observers; width 50; 4 candidate analyses (io, trial with "
                            "half-normal and hazard-rate keys, stratified by region)\n"))
      << made.err;
  for (const char* item : {"1", "2", "3", "4"}) {
    const Outcome run = RunPramble({"run", dir, item});
    EXPECT_EQ(run.code, 0) << item << run.err << run.out;
    EXPECT_TRUE(Has(run.err, "status 1 Finished") || Has(run.err, "status 2 Finished"))
        << item << run.err;
  }
}

}  // namespace
}  // namespace pramble::testing
