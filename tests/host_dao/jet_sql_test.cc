#include "sqlhost/jet/jet_sql.h"

#include <gtest/gtest.h>

#include <map>

#include "pramble/host/errors.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

// Every case of tests/data/host_dao/jet_sql.txt: translations of statements
// and conditions, and refusals with their position and text.
TEST(JetSqlTest, CasesFromFile) {
  for (const auto& c : pramble::testing::ReadBlocks("host_dao/jet_sql.txt")) {
    ASSERT_EQ(c.size(), 3u);
    SCOPED_TRACE(c[0] + ": " + c[1]);
    const bool condition = c[0].find("condition") != std::string::npos;
    try {
      EXPECT_EQ(condition ? TranslateJetCondition(c[1]) : TranslateJetSql(c[1]), c[2]);
      EXPECT_EQ(c[0].rfind("refuse", 0), std::string::npos) << "translated";
    } catch (const host::HostError& e) {
      EXPECT_EQ(c[0].rfind("refuse", 0), 0u) << e.description();
      EXPECT_EQ(e.number(), host::kErrSql);
      EXPECT_EQ(e.description(), c[2]);
    }
  }
}

TEST(JetSqlTest, ExpandSelectStarSpellsOutColumnsFirstOccurrenceWinning) {
  const std::map<std::string, std::vector<std::string>> columns = {
      {"S", {"STR_LINK", "STR_LABEL"}},
      {"P", {"STR_LINK", "SMP_LINK", "SMP_LABEL"}},
      {"O", {"smp_link", "object"}},
      {"x y", {"a"}}};
  auto lister = [&](const std::string& source) { return columns.at(source); };
  EXPECT_EQ(ExpandJetSelectStar("SELECT * FROM ((S INNER JOIN P ON S.STR_LINK = P.STR_LINK) "
                                "LEFT JOIN O ON P.SMP_LINK = O.SMP_LINK) ORDER BY S.STR_LINK",
                                lister),
            "SELECT [S].[STR_LINK], [S].[STR_LABEL], [P].[SMP_LINK], [P].[SMP_LABEL], "
            "[O].[object] FROM ((S INNER JOIN P ON S.STR_LINK = P.STR_LINK) LEFT JOIN O ON "
            "P.SMP_LINK = O.SMP_LINK) ORDER BY S.STR_LINK");
  EXPECT_EQ(ExpandJetSelectStar("SELECT DISTINCT * FROM [x y] AS q, S", lister),
            "SELECT DISTINCT [q].[a], [S].[STR_LINK], [S].[STR_LABEL] FROM [x y] AS q, S");
  // Not a plain SELECT * over named sources: unchanged.
  for (const char* jet : {"SELECT a FROM S", "SELECT * FROM (SELECT * FROM S)", "DELETE * FROM S",
                          "SELECT S.* FROM S"})
    EXPECT_EQ(ExpandJetSelectStar(jet, lister), jet);
}

}  // namespace
}  // namespace pramble::sqlhost
