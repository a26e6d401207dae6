#include "sqlhost/util/string_utilities.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "pramble/host/errors.h"
#include "host_util/test_util.h"

namespace pramble::sqlhost {
namespace {

using testing::RunRscript;
using testing::TempDir;

struct ColumnCase {
  std::string name, r_name, sql_name;
};

TEST(MakeColumnNameTest, RAndSqlForms) {
  const ColumnCase cases[] = {
      {"distance", "distance", "distance"},
      {"Line length", "Line.length", "[Line.length]"},
      {"Line.length", "Line.length", "[Line.length]"},
      {"group_size", "group.size", "[group.size]"},
      {"_hidden", "X.hidden", "[X.hidden]"},
      {"1st obs", "X1st.obs", "[X1st.obs]"},
      {".5m", "X.5m", "[X.5m]"},
      {".x", ".x", "[.x]"},
      {"", "X", "X"},
      {"if", "if.", "[if.]"},
      {"TRUE", "TRUE.", "[TRUE.]"},
      {"NA_real_", "NA.real..", "[NA.real..]"},
      {"Beaufort (0-5)", "Beaufort..0.5.", "[Beaufort..0.5.]"},
      {"it's", "it.s", "[it.s]"},
      {"[odd]", "X.odd.", "[X.odd.]"},
      {"sex", "sex", "sex"},
      {"Order", "Order", "[Order]"},
      {"select", "select", "[select]"},
      {"first", "first", "[first]"},
      {"Observation.sex", "Observation.sex", "[Observation.sex]"},
      {"Höhe", "H.he", "[H.he]"},
      {"日本", "X..", "[X..]"},
      {"x\xff", "x.", "[x.]"},
  };
  RJetStringUtilities strings;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(strings.MakeColumnName(c.name, false, false), c.r_name);
    EXPECT_EQ(strings.MakeColumnName(c.name, true, false), c.sql_name);
    // The caller converts a key again: the forms must be stable.
    EXPECT_EQ(strings.MakeColumnName(c.r_name, false, false), c.r_name);
    EXPECT_EQ(strings.MakeColumnName(c.r_name, true, false), c.sql_name);
  }
  EXPECT_EQ(strings.MakeColumnName("distance", true, true), "[distance]");
}

// For ASCII names the data column name is what R's make.names gives once
// "_" is turned into "." as the data file header does.
TEST(MakeColumnNameTest, AgreesWithRsMakeNames) {
  const std::vector<std::string> names = {
      "Line length", "a_b", "_a", "1st", "if", "NA_real_", "...", "..1", ".5x", ".x",
      "", "a b-c", "TRUE", "ok$", "x__y", "function", "Inf", "a+b", "~tilde", "#hash",
      " lead", "[odd]", "(x)"};
  std::string script = "x <- c(";
  for (std::size_t i = 0; i < names.size(); ++i)
    script += (i ? ", '" : "'") + RQuotablePath(names[i]) + "'";
  script += ")\ncat(paste0('<', gsub('_', '.', make.names(x)), '>'), sep='\\n')\n";
  TempDir folder;
  const std::string output = RunRscript(folder, script);
  RJetStringUtilities strings;
  std::string expected;
  for (const auto& name : names) expected += "<" + strings.MakeColumnName(name, false, false) + ">\n";
  EXPECT_EQ(output, expected);
}

// Every path is written to a file by the test and read back by a real R
// through readLines('<RPath>'), all in one R session.
TEST(RPathTest, RReadsEveryPathBack) {
  TempDir folder;
  const std::string sub = folder / "it's a \"dir\" \\ $x";
  ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  const std::vector<std::string> names = {
      "plain.txt",         "with blank.txt",    "it's.txt",         "say \"hi\".txt",
      "back\\slash.txt",   "ends with\\",       "\\'both\\\"'.txt", "dollar $HOME.txt",
      "ünïcödé ñ.txt",     "日本語.txt",        "tab\there.txt",    "new\nline.txt",
      "percent %d %s.txt", "backtick `x`.txt",  "\\n not a newline", "semi;colon&amp"};
  RJetStringUtilities strings;
  std::string script;
  std::string expected;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = sub + "/" + names[i];
    testing::Spit(path, "content " + std::to_string(i) + "\n");
    script += "cat(readLines('" + strings.RPath(path) + "'), sep='\\n')\n";
    expected += "content " + std::to_string(i) + "\n";
  }
  EXPECT_EQ(RunRscript(folder, script), expected);
}

TEST(RPathTest, EscapesOnlyWhatRNeeds) {
  RJetStringUtilities strings;
  EXPECT_EQ(strings.RPath("/tmp/a b/ü.r"), "/tmp/a b/ü.r");
  EXPECT_EQ(strings.RPath("C:\\x\\it's"), "C:\\\\x\\\\it\\'s");
  EXPECT_EQ(strings.RPath("a\"b"), "a\"b");
  EXPECT_EQ(strings.RPath(std::string("a\x01z")), "a\\x01z");
}

TEST(FormatSqlNumberTest, ShortestExactText) {
  const std::pair<std::string, std::string> cases[] = {
      {"0.001", "0.001"},   {" 1000 ", "1000"},          {"1E3", "1000"},
      {"-2.50", "-2.5"},    {"+7", "7"},                 {"0", "0"},
      {"1e-7", "1e-07"},    {"123456789012345678", "1.2345678901234568e+17"},
      {"0.1", "0.1"},       {"3.0000000000000004", "3.0000000000000004"},
      {"1000000", "1000000"},
  };
  RJetStringUtilities strings;
  for (const auto& [in, out] : cases) EXPECT_EQ(strings.FormatSqlNumber(in), out) << in;
  for (const std::string bad : {"", "abc", "1,5", "1 000", "0x10", "1; DROP TABLE x"}) {
    try {
      strings.FormatSqlNumber(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const host::HostError& e) {
      EXPECT_EQ(e.number(), host::kErrTypeMismatch);
      EXPECT_EQ(e.description(), "Type mismatch: '" + bad + "' is not a number");
    }
  }
}

TEST(NumericTextTest, TrimsBlanksAndLineEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {"\t 12.5 \r\n", "12.5"}, {"-3", "-3"}, {"  ", ""}, {"", ""}, {" NA", "NA"},
      {"1 2", "1 2"}};
  RJetStringUtilities strings;
  for (const auto& [in, out] : cases) EXPECT_EQ(strings.NumericText(in), out);
}

}  // namespace
}  // namespace pramble::sqlhost
