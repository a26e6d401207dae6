#include "sqlhost/util/string_utilities.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "pramble/host/errors.h"
#include "sqlhost/util/results_utilities.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

using pramble::testing::TempDir;

// Every row of tests/data/host_util/texts.tsv.
TEST(TextsTest, CasesFromFile) {
  RJetStringUtilities strings;
  SqliteResultsUtilities results;
  for (auto c : pramble::testing::ReadTable("host_util/texts.tsv")) {
    c.resize(4);
    SCOPED_TRACE(c[0] + ": '" + c[1] + "'");
    if (c[0] == "column") {
      EXPECT_EQ(strings.MakeColumnName(c[1], false, false), c[2]);
      EXPECT_EQ(strings.MakeColumnName(c[1], true, false), c[3]);
      // The caller converts a key again: the forms must be stable.
      EXPECT_EQ(strings.MakeColumnName(c[2], false, false), c[2]);
      EXPECT_EQ(strings.MakeColumnName(c[2], true, false), c[3]);
    } else if (c[0] == "sql number") {
      try {
        EXPECT_EQ(strings.FormatSqlNumber(c[1]), c[2]);
      } catch (const host::HostError& e) {
        EXPECT_EQ(c[2], "error");
        EXPECT_EQ(e.number(), host::kErrTypeMismatch);
        EXPECT_EQ(e.description(), "Type mismatch: '" + c[1] + "' is not a number");
      }
    } else {
      ASSERT_EQ(c[0], "engine status");
      EXPECT_EQ(results.GetEngineStatusText(std::stoi(c[1])), c[2]);
    }
  }
  EXPECT_EQ(strings.MakeColumnName("distance", true, true), "[distance]");
  EXPECT_EQ(strings.RPath("/tmp/a b/ü.r"), "/tmp/a b/ü.r");
  EXPECT_EQ(strings.RPath("C:\\x\\it's"), "C:\\\\x\\\\it\\'s");
  EXPECT_EQ(strings.RPath("a\"b"), "a\"b");
  EXPECT_EQ(strings.RPath(std::string("a\x01z")), "a\\x01z");
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"\t 12.5 \r\n", "12.5"}, {"  ", ""}, {" NA", "NA"}, {"1 2", "1 2"}})
    EXPECT_EQ(strings.NumericText(in), out);
}

// One real R session: for ASCII names the data column name is what R's
// make.names gives once "_" is turned into "." as the data file header does,
// and R reads back every file through readLines('<RPath>').
TEST(TextsTest, RAgreesWithColumnNamesAndPaths) {
  const std::vector<std::string> names = {
      "Line length", "a_b", "_a", "1st", "if", "NA_real_", "...", "..1", ".5x", ".x",
      "", "a b-c", "TRUE", "ok$", "x__y", "function", "Inf", "a+b", "~tilde", "#hash",
      " lead", "[odd]", "(x)"};
  RJetStringUtilities strings;
  std::string script = "x <- c(", expected;
  for (std::size_t i = 0; i < names.size(); ++i) {
    script += (i ? ", '" : "'") + RQuotablePath(names[i]) + "'";
    expected += "<" + strings.MakeColumnName(names[i], false, false) + ">\n";
  }
  script += ")\ncat(paste0('<', gsub('_', '.', make.names(x)), '>'), sep='\\n')\n";
  TempDir folder;
  const std::string sub = folder / "it's a \"dir\" \\ $x";
  ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  const std::vector<std::string> files = {
      "with blank.txt", "it's.txt",         "say \"hi\".txt",  "back\\slash.txt",
      "ends with\\",    "\\'both\\\"'.txt", "dollar $HOME.txt", "ünïcödé ñ.txt",
      "日本語.txt",     "tab\there.txt",    "new\nline.txt",   "percent %d %s.txt",
      "backtick `x`.txt", "\\n not a newline", "semi;colon&amp"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    pramble::testing::WriteFile(sub + "/" + files[i], "content " + std::to_string(i) + "\n");
    script += "cat(readLines('" + strings.RPath(sub + "/" + files[i]) + "'), sep='\\n')\n";
    expected += "content " + std::to_string(i) + "\n";
  }
  pramble::testing::WriteFile(folder / "script.R", script);
  EXPECT_EQ(pramble::testing::RunRscript(folder / "script.R"), expected);
}

}  // namespace
}  // namespace pramble::sqlhost
