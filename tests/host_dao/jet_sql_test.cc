#include "sqlhost/jet/jet_sql.h"

#include <gtest/gtest.h>

#include <map>

#include "dao_test_util.h"
#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

using testing::ExpectHostError;

struct Case {
  const char* jet;
  const char* sqlite;
};

class TranslateTest : public ::testing::TestWithParam<Case> {};

TEST_P(TranslateTest, GivesSqliteText) {
  EXPECT_EQ(TranslateJetSql(GetParam().jet), GetParam().sqlite);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TranslateTest,
    ::testing::Values(
        // The stratum query, labelled strata, area without factor (two blanks before AS).
        Case{"SELECT [q12 Région].[ID] AS STR_LINK, [q12 Région].[ID] & \". \" & "
             "[q12 Région].[Name] AS STR_LABEL, [q12 Région].[Area]  AS STR_AREA, "
             "[q12_Global].[Name] AS Global_Name FROM (([q12_Global]) INNER JOIN [q12 Région] "
             "ON [q12_Global].[ID] = [q12 Région].[GlobalID]) ",
             "SELECT \"q12 Région\".\"ID\" AS \"STR_LINK\", jet_concat(\"q12 Région\".\"ID\", "
             "'. ', \"q12 Région\".\"Name\") AS \"STR_LABEL\", \"q12 Région\".\"Area\" AS "
             "\"STR_AREA\", \"q12_Global\".\"Name\" AS \"Global_Name\" FROM ((\"q12_Global\") "
             "INNER JOIN \"q12 Région\" ON \"q12_Global\".\"ID\" = \"q12 Région\".\"GlobalID\")"},
        // Unstratified label and constant area of a survey without area field.
        Case{"SELECT 0 AS STR_AREA, [G].[ID] AS STR_LINK, \"1.\" AS STR_LABEL FROM ([G]) ",
             "SELECT 0 AS \"STR_AREA\", \"G\".\"ID\" AS \"STR_LINK\", '1.' AS \"STR_LABEL\" "
             "FROM (\"G\")"},
        // Area with a factor.
        Case{"SELECT [S].[Area] * 0.01 AS STR_AREA FROM ([S]) ",
             "SELECT \"S\".\"Area\" * 0.01 AS \"STR_AREA\" FROM (\"S\")"},
        // Summing the area per region.
        Case{"SELECT FIRST(STR_LABEL) AS STR_LABEL1, FIRST(STR_AREA) AS STR_AREA1, "
             "FIRST(STR_AREA_ID) AS STR_AREA_ID1 FROM q12_StrArea1 GROUP BY STR_AREA_ID",
             "SELECT jet_first(\"STR_LABEL\") AS \"STR_LABEL1\", jet_first(\"STR_AREA\") AS "
             "\"STR_AREA1\", jet_first(\"STR_AREA_ID\") AS \"STR_AREA_ID1\" FROM "
             "\"q12_StrArea1\" GROUP BY \"STR_AREA_ID\""},
        Case{"SELECT FIRST(STR_LABEL1) AS STR_LABEL2, SUM(STR_AREA1) AS STR_AREA2 FROM "
             "q12_StrArea2 GROUP BY STR_LABEL1",
             "SELECT jet_first(\"STR_LABEL1\") AS \"STR_LABEL2\", SUM(\"STR_AREA1\") AS "
             "\"STR_AREA2\" FROM \"q12_StrArea2\" GROUP BY \"STR_LABEL1\""},
        Case{"SELECT STR_LINK, STR_LABEL, Name, STR_AREA2 AS STR_AREA FROM q12_StrArea1 LEFT "
             "JOIN q12_StrArea3 ON q12_StrArea1.STR_LABEL = q12_StrArea3.STR_LABEL2",
             "SELECT \"STR_LINK\", \"STR_LABEL\", \"Name\", \"STR_AREA2\" AS \"STR_AREA\" FROM "
             "\"q12_StrArea1\" LEFT JOIN \"q12_StrArea3\" ON \"q12_StrArea1\".\"STR_LABEL\" = "
             "\"q12_StrArea3\".\"STR_LABEL2\""},
        // The main data query.
        Case{"SELECT * FROM ((S INNER JOIN P ON S.STR_LINK = P.STR_LINK) LEFT JOIN O ON "
             "P.SMP_LINK = O.SMP_LINK) ORDER BY S.STR_LINK, P.SMP_LINK, object, observer",
             "SELECT * FROM ((\"S\" INNER JOIN \"P\" ON \"S\".\"STR_LINK\" = \"P\".\"STR_LINK\") "
             "LEFT JOIN \"O\" ON \"P\".\"SMP_LINK\" = \"O\".\"SMP_LINK\") ORDER BY "
             "\"S\".\"STR_LINK\", \"P\".\"SMP_LINK\", \"object\", \"observer\""},
        // The detection-function query.
        Case{"SELECT distance, size, object FROM q12_Data WHERE NOT(IsNull(Object))",
             "SELECT \"distance\", \"size\", \"object\" FROM \"q12_Data\" WHERE "
             "NOT(((\"Object\") IS NULL))"},
        // The density queries.
        Case{"SELECT DISTINCT STR_LABEL AS Region_Label, STR_AREA As Area FROM q12_Data",
             "SELECT DISTINCT \"STR_LABEL\" AS \"Region_Label\", \"STR_AREA\" As \"Area\" FROM "
             "\"q12_Data\""},
        Case{"SELECT DISTINCT object, STR_LABEL As Region_Label, SMP_LABEL As Sample_Label "
             "FROM q12_Data WHERE object>0",
             "SELECT DISTINCT \"object\", \"STR_LABEL\" As \"Region_Label\", \"SMP_LABEL\" As "
             "\"Sample_Label\" FROM \"q12_Data\" WHERE \"object\">0"},
        // Results reset.
        Case{"DELETE * FROM AnalysisQuoxResults WHERE ID = 12",
             "DELETE FROM \"AnalysisQuoxResults\" WHERE \"ID\" = 12"},
        Case{"DELETE [t].* FROM [t]", "DELETE FROM \"t\""},
        // & binds looser than + and tighter than comparisons; numbers concatenate.
        Case{"SELECT 1 & \". \" AS L", "SELECT jet_concat(1, '. ') AS \"L\""},
        Case{"SELECT * FROM t WHERE [a] + 1 & \"x\" = \"3x\" AND [b] & [c] IS NULL",
             "SELECT * FROM \"t\" WHERE jet_concat(\"a\" + 1, 'x') = '3x' AND "
             "jet_concat(\"b\", \"c\") IS NULL"},
        Case{"SELECT ([a] & [b]) & [c] AS x, Left([a], 2) & \"-\" AS y FROM t",
             "SELECT jet_concat((jet_concat(\"a\", \"b\")), \"c\") AS \"x\", "
             "jet_concat(jet_left(\"a\", 2), '-') AS \"y\" FROM \"t\""},
        Case{"SELECT * FROM t WHERE NOT [a] & [b] LIKE \"N*\"",
             "SELECT * FROM \"t\" WHERE NOT jet_concat(\"a\", \"b\") LIKE 'N%'"},
        // Literals and names.
        Case{"SELECT [Line length], [it's \"x\"] FROM [Größe] WHERE [a] = \"it's \"\"q\"\"\"",
             "SELECT \"Line length\", \"it's \"\"x\"\"\" FROM \"Größe\" WHERE \"a\" = "
             "'it''s \"q\"'"},
        Case{"SELECT * FROM t WHERE [d] > #2001-01-31# AND [s] = 'a''b'",
             "SELECT * FROM \"t\" WHERE \"d\" > '2001-01-31' AND \"s\" = 'a''b'"},
        // Jet operators and words.
        Case{"SELECT DISTINCTROW [a] Mod 2 = True, Nz([b], 0), IIf([c], 1, 2) FROM t",
             "SELECT DISTINCT \"a\" % 2 = 1, jet_nz(\"b\", 0), iif(\"c\", 1, 2) FROM \"t\""},
        Case{"SELECT * FROM t WHERE [n] LIKE \"N*a?[*]%\"",
             "SELECT * FROM \"t\" WHERE \"n\" LIKE 'N%a_*\\%' ESCAPE '\\'"},
        // Two minus signs never become an SQLite comment.
        Case{"SELECT [a]--1 FROM t", "SELECT \"a\"- -1 FROM \"t\""},
        // Definitions keep their plain words (type names).
        Case{"CREATE TABLE [My table] (ID INTEGER, [Line length] DOUBLE)",
             "CREATE TABLE \"My table\" (ID INTEGER, \"Line length\" DOUBLE)"}));

struct Refusal {
  const char* jet;
  const char* message;
};

class RefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, NamesPositionAndText) {
  try {
    TranslateJetSql(GetParam().jet);
    FAIL() << "translated: " << GetParam().jet;
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrSql);
    EXPECT_EQ(e.description(), std::string(GetParam().message) + ". SQL: " + GetParam().jet);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bad, RefusalTest,
    ::testing::Values(
        Refusal{"SELECT * FROM t; DROP TABLE x",
                "Jet SQL error at position 16: ';' is not allowed (a text holds one statement "
                "only)"},
        Refusal{"SELECT ([a] FROM t", "Jet SQL error at position 8: '(' is not closed by ')'"},
        Refusal{"SELECT [a]) FROM t", "Jet SQL error at position 11: ')' has no matching '('"},
        Refusal{"SELECT \"abc FROM t",
                "Jet SQL error at position 8: text literal opened by \" is not closed"},
        Refusal{"SELECT 'abc FROM t",
                "Jet SQL error at position 8: text literal opened by ' is not closed"},
        Refusal{"SELECT [abc FROM t", "Jet SQL error at position 8: '[' is not closed by ']'"},
        Refusal{"SELECT TOP 5 * FROM t", "Jet SQL error at position 8: 'TOP' is not supported"},
        Refusal{"SELECT [a] & FROM t", "Jet SQL error at position 12: '&' lacks an operand"},
        Refusal{"SELECT ? FROM t", "Jet SQL error at position 8: unexpected character '?'"},
        Refusal{"SELECT IsNull(a, b) FROM t",
                "Jet SQL error at position 8: IsNull takes exactly one argument"},
        Refusal{"   ", "Jet SQL error at position 1: empty statement"}));

TEST(TranslateCondition, WrapsOneCondition) {
  EXPECT_EQ(TranslateJetCondition("[size] < 20"), "(\"size\" < 20)");
  EXPECT_EQ(TranslateJetCondition("[Sex] = \"f;m\" OR [a] IN (SELECT [b] FROM [c])"),
            "(\"Sex\" = 'f;m' OR \"a\" IN (SELECT \"b\" FROM \"c\"))");
}

TEST(TranslateCondition, RefusesWhatCouldLeaveTheCondition) {
  const std::map<std::string, std::string> cases = {
      {"[a] = 1; DROP TABLE t",
       "Jet SQL error at position 8: ';' is not allowed (a text holds one statement only)"},
      {"1=1) OR (1=1", "Jet SQL error at position 4: ')' has no matching '('"},
      {"1=1 UNION SELECT * FROM secret",
       "Jet SQL error at position 5: 'UNION' is not allowed in a condition"},
      {"", "Jet SQL error at position 1: empty condition"},
  };
  for (const auto& [condition, message] : cases) {
    ExpectHostError([&] { TranslateJetCondition(condition); }, host::kErrSql,
                    {message + ". SQL: " + condition});
  }
}

TEST(ExpandSelectStar, SpellsOutColumnsFirstOccurrenceWinning) {
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
