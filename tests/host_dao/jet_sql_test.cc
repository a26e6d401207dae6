#include "sqlhost/jet/jet_sql.h"

#include <gtest/gtest.h>

#include <map>

#include "pramble/host/errors.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

// Every case of tests/data/host_dao/jet_sql.txt: translations of statements
// and conditions, and refusals (HostError kErrSql) with their text.
TEST(JetSqlTest, CasesFromFile) {
  for (const auto& c : pramble::testing::ReadCases("host_dao/jet_sql.txt")) {
    const std::string jet = c.Get("jet");
    SCOPED_TRACE(c.name + ": " + jet);
    std::string sqlite;
    EXPECT_EQ(pramble::testing::Failure([&] {
                sqlite = pramble::testing::Has(c.name, "condition") ? TranslateJetCondition(jet)
                                                                    : TranslateJetSql(jet);
              }),
              c.Has("error") ? std::to_string(host::kErrSql) + ": " + c.Get("error") : "no error");
    EXPECT_EQ(sqlite, c.Get("sqlite"));
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
