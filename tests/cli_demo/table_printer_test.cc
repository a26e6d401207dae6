// The command line's table printer in its three formats, and the names of
// the files in a project folder that the demo counts and reads.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sqlhost/cli/table_printer.h"
#include "sqlhost/project/file_names.h"

namespace pramble::cli {
namespace {

struct FormatCase {
  const char* name;
  OutputFormat format;
  std::string expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class TablePrinterTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(TablePrinterTest, PrintsTheRows) {
  TablePrinter table({{"item", 4, Align::kRight}, {"region"}, {"estimate", 0, Align::kRight},
                      {"note"}});
  table.AddRow({"1", "North", WithThousands(12345.6), "a, \"b\""});
  table.AddRow({"", "Total", WithThousands(-999.4), ""});
  std::ostringstream out;
  table.Print(out, GetParam().format);
  EXPECT_EQ(out.str(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TablePrinterTest,
    ::testing::Values(
        FormatCase{"Text", OutputFormat::kText,
                   "item  region  estimate  note\n"
                   "   1  North     12,346  a, \"b\"\n"
                   "      Total       -999  \n"},
        FormatCase{"Csv", OutputFormat::kCsv,
                   "item,region,estimate,note\r\n1,North,\"12,346\",\"a, \"\"b\"\"\"\r\n"
                   ",Total,-999,\r\n"},
        FormatCase{"Json", OutputFormat::kJson,
                   "[\n  {\n    \"item\": \"1\",\n    \"region\": \"North\",\n    \"estimate\": "
                   "\"12,346\",\n    \"note\": \"a, \\\"b\\\"\"\n  },\n  {\n    \"item\": \"\",\n"
                   "    \"region\": \"Total\",\n    \"estimate\": \"-999\",\n    \"note\": \"\"\n"
                   "  }\n]\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameCase {
  std::string name;
  bool known;
  sqlhost::FileType type;
  std::int32_t id;
};

TEST(FileNamesTest, RecognisesWhatTheHostMakes) {
  using sqlhost::FileType;
  const NameCase cases[] = {
      {"project.db", true, FileType::kProjectDatabase, 0},
      {"data.db", true, FileType::kDataDatabase, 0},
      {".locks", true, FileType::kLocksFolder, 0},
      {".locks/item-12.lock", true, FileType::kItemLock, 12},
      {"ddf.12.01.png", true, FileType::kPlot, 12},
      {"qq.7.103.wmf", true, FileType::kPlot, 7},
      {"ddf.12.1.png", false, {}, 0},
      {"ddf.012.01.png", false, {}, 0},
      {"ddf.12.01.txt.bak", false, {}, 0},
      {"gof.12.01.png", false, {}, 0},
      {".locks/item-x.lock", false, {}, 0},
      {"project.db-wal", false, {}, 0},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parsed = sqlhost::ParseFileName(c.name);
    ASSERT_EQ(parsed.has_value(), c.known);
    if (!c.known) continue;
    EXPECT_EQ(parsed->type, c.type);
    EXPECT_EQ(parsed->id, c.id);
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
  EXPECT_EQ(parsed->kind, StatKind::kSurveyFigures);
  EXPECT_EQ(parsed->region, 1);
  EXPECT_EQ(parsed->quantity, 2);
  EXPECT_FALSE(sqlhost::ParseDensityStatCode(40).has_value());
}

}  // namespace
}  // namespace pramble::cli
