// The definition reader: commands, values and options as the component asks
// for them, the strict check that `create` applies, and list splitting.
#include "sqlhost/project/definition_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pramble::sqlhost {
namespace {

std::string Options(const host::Command& c) {
  std::string out;
  for (int i = 0; i < c.OptionCount(); ++i) {
    out += "/" + c.option_names[i] + "=" + c.option_values[i] + "|";
  }
  return out;
}

struct GetCase {
  const char* definition;
  const char* name;
  bool found;
  const char* command_name;
  const char* value;
  const char* options;  // "/NAME=VALUE|" per option
};

class GetCommandTest : public ::testing::TestWithParam<GetCase> {};

TEST_P(GetCommandTest, FindsTheFirstCommandOfTheName) {
  const GetCase& c = GetParam();
  TextDefinitionReader reader;
  host::Command cmd = reader.GetCommand(c.definition, c.name);
  EXPECT_EQ(cmd.found, c.found);
  EXPECT_EQ(cmd.name, c.command_name);
  EXPECT_EQ(cmd.value, c.value);
  EXPECT_EQ(Options(cmd), c.options);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetCommandTest,
    ::testing::Values(
        GetCase{"Type Line; Distance Perp;", "distance", true, "Distance", "Perp", ""},
        GetCase{"Type Line; Distance Perp;", "Object", false, "", "", ""},
        GetCase{"Distance /Width=50 /Left=0 /Intervals=0,10,20,30,50;", "DISTANCE", true,
                "Distance", "", "/Width=50|/Left=0|/Intervals=0,10,20,30,50|"},
        // A quoted value keeps ';', '/', blanks and doubled quotes.
        GetCase{"Select /Layer=Observation /Criteria=\"[size] < 20; /x \"\"q\"\"\";", "select",
                true, "Select", "", "/Layer=Observation|/Criteria=[size] < 20; /x \"q\"|"},
        GetCase{"Effort /Fld=\"Line length\"", "Effort", true, "Effort", "", "/Fld=Line length|"},
        // Last ';' left out; blanks and line breaks between the parts.
        GetCase{"Method io;\r\n  Stratification\n Stratify\t/ LayerType = 10", "stratification",
                true, "Stratification", "Stratify", "/LayerType=10|"},
        // An option without a value, and an empty one.
        GetCase{"Diagnostics /Plot /GOF=;", "Diagnostics", true, "Diagnostics", "",
                "/Plot=|/GOF=|"},
        // The first of two commands of one name.
        GetCase{"PDist /Fld=a; PDist /Fld=b;", "PDist", true, "PDist", "", "/Fld=a|"},
        // Values are kept exactly as written.
        GetCase{"Units /Area=\"Square kilometer\";", "units", true, "Units", "",
                "/Area=Square kilometer|"},
        GetCase{"Factors sex,size;", "factors", true, "Factors", "sex,size", ""},
        GetCase{"Detection T; Density T /VarFlag=1;", "density", true, "Density", "T",
                "/VarFlag=1|"},
        GetCase{"", "Type", false, "", "", ""}, GetCase{";;  ; ", "Type", false, "", "", ""},
        // Garbage still yields the commands around it.
        GetCase{"Type \"Line; Distance Perp", "Type", true, "Type", "Line; Distance Perp", ""},
        GetCase{"Type Line extra words; Obs /Fld=observer;", "Obs", true, "Obs", "",
                "/Fld=observer|"}));

// GetNextCommand takes the commands off one by one and always makes progress.
struct NextCase {
  const char* definition;
  std::vector<std::string> names;  // the commands taken off, in order
};

class GetNextCommandTest : public ::testing::TestWithParam<NextCase> {};

TEST_P(GetNextCommandTest, TakesEveryCommandOffAndEnds) {
  TextDefinitionReader reader;
  std::string rest = GetParam().definition;
  std::vector<std::string> names;
  for (int guard = 0; !rest.empty() && guard < 100; ++guard) {
    const std::size_t before = rest.size();
    host::Command c = reader.GetNextCommand(rest);
    EXPECT_LT(rest.size(), before) << "no progress on: " << GetParam().definition;
    if (c.found) names.push_back(c.name);
  }
  EXPECT_EQ(rest, "");
  EXPECT_EQ(names, GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetNextCommandTest,
    ::testing::Values(NextCase{"Type Line; Distance Perp; Object Cluster;",
                               {"Type", "Distance", "Object"}},
                      NextCase{"Type Line; Distance Perp   ;  ", {"Type", "Distance"}},
                      NextCase{"Type Line", {"Type"}}, NextCase{"  ;; Type Line;;", {"Type"}},
                      NextCase{"A /x=\"1;2\"; B", {"A", "B"}}, NextCase{"/ = = ; \" ;;", {"", ""}},
                      NextCase{"= / ;", {""}}, NextCase{"\"unterminated; Type Line", {""}},
                      NextCase{"Type \"a\"b\"c; D", {"Type"}}, NextCase{"/////", {""}}));

TEST(GetNextCommandTest, GivesValueAndOptionsOfEachCommand) {
  TextDefinitionReader reader;
  std::string rest = "CSize /Fld=size; ObjID /Fld=object /Fld=obj2;";
  host::Command c = reader.GetNextCommand(rest);
  EXPECT_EQ(c.name, "CSize");
  EXPECT_EQ(Options(c), "/Fld=size|");
  EXPECT_EQ(rest, " ObjID /Fld=object /Fld=obj2;");
  c = reader.GetNextCommand(rest);
  EXPECT_EQ(Options(c), "/Fld=object|/Fld=obj2|");
  EXPECT_EQ(c.LastOption("fld"), "obj2");
  EXPECT_EQ(c.LastOption("Layer"), std::nullopt);
  EXPECT_EQ(rest, "");
}

struct CheckCase {
  const char* definition;
  const char* error;  // "" when well formed
};

class CheckDefinitionTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckDefinitionTest, ReportsTheFirstBreakWithItsPosition) {
  auto error = CheckDefinition(GetParam().definition);
  EXPECT_EQ(error ? error->ToString() : "", GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckDefinitionTest,
    ::testing::Values(
        CheckCase{"Type Line; Distance Perp; Area /Fld=Area; Effort /Fld=\"Line length\";", ""},
        CheckCase{"Select /Layer=Observation /Criteria=\"[sex] = \"\"F\"\"\"", ""},
        CheckCase{"", ""},
        CheckCase{"Type Line;\nPDist /Fld=\"distance;",
                  "line 2, column 12: the quoted value "
                  "that starts here has no closing '\"'"},
        CheckCase{"Type Line Perp;",
                  "line 1, column 11: unexpected text; a command has at "
                  "most one value (quote a value that holds blanks) and "
                  "ends with ';'"},
        CheckCase{"/Fld=x;", "line 1, column 1: a command name is expected here"},
        CheckCase{"PDist / =x;", "line 1, column 7: an option name is expected after '/'"},
        CheckCase{"Type=Line;", "line 1, column 5: '=' may only follow an option name"},
        CheckCase{"Effort /Fld=\"Line\"length;",
                  "line 1, column 19: a blank, '/' or ';' must follow the closing '\"' of a "
                  "value"}));

struct SplitCase {
  const char* text;
  const char* delimiter;
  std::vector<std::string> items;
};

class SplitListTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitListTest, SplitsAtTheDelimiter) {
  TextDefinitionReader reader;
  EXPECT_EQ(reader.SplitList(GetParam().text, GetParam().delimiter), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitListTest,
                         ::testing::Values(SplitCase{"", ",", {}}, SplitCase{"sex", ",", {"sex"}},
                                           SplitCase{"0,10,20", ",", {"0", "10", "20"}},
                                           SplitCase{"a,,b,", ",", {"a", "", "b", ""}},
                                           SplitCase{"a, b", ",", {"a", " b"}},
                                           SplitCase{"a::b", "::", {"a", "b"}},
                                           SplitCase{"a,b", "", {"a,b"}}));

}  // namespace
}  // namespace pramble::sqlhost
