// The command line's table printer in its three formats (the expected texts
// are in tests/data/table_printer), and the names of the files in a project
// folder that the demo counts and reads.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sqlhost/cli/table_printer.h"
#include "sqlhost/project/file_names.h"
#include "support/test_project.h"

namespace pramble::cli {
namespace {

TEST(TablePrinterTest, PrintsTheRowsInEachFormat) {
  TablePrinter table({{"item", 4, Align::kRight}, {"region"}, {"estimate", 0, Align::kRight},
                      {"note"}});
  table.AddRow({"1", "North", WithThousands(12345.6), "a, \"b\""});
  table.AddRow({"", "Total", WithThousands(-999.4), ""});
  for (const auto& [name, format] : {std::pair{"text", OutputFormat::kText},
                                     {"csv", OutputFormat::kCsv}, {"json", OutputFormat::kJson}}) {
    std::ostringstream out;
    table.Print(out, format);
    EXPECT_EQ(out.str(), testing::ReadFile(PRAMBLE_SOURCE_DIR "/tests/data/table_printer/" +
                                           std::string(name)));
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
}  // namespace pramble::cli
