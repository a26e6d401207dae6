// The definition reader: commands, values and options as the component asks
// for them, the strict check that `create` applies, and list splitting.
#include "sqlhost/project/definition_reader.h"

#include <gtest/gtest.h>

#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

std::string Shown(const host::Command& c) {
  std::string out = c.name + "|" + c.value + "|";
  for (int i = 0; i < c.OptionCount(); ++i)
    out += "/" + c.option_names[i] + "=" + c.option_values[i] + "|";
  return c.found ? out : "not found" + out.substr(2);
}

std::string Bracketed(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += "[" + item + "]";
  return out;
}

// Every row of tests/data/host_project/definition_reader.tsv: GetCommand
// finds the first command of a name; GetNextCommand takes every command off,
// always making progress; CheckDefinition reports the first break with its
// position; SplitList splits at the delimiter.
TEST(DefinitionReaderTest, CasesFromFile) {
  TextDefinitionReader reader;
  for (auto c : pramble::testing::ReadTable("host_project/definition_reader.tsv")) {
    c.resize(4);
    const std::string definition = Unescape(c[1]);
    SCOPED_TRACE(c[0] + ": " + c[1]);
    if (c[0] == "get") {
      EXPECT_EQ(Shown(reader.GetCommand(definition, c[2])), c[3]);
    } else if (c[0] == "next") {
      std::string rest = definition;
      std::vector<std::string> names;
      for (int guard = 0; !rest.empty() && guard < 100; ++guard) {
        const std::size_t before = rest.size();
        host::Command command = reader.GetNextCommand(rest);
        EXPECT_LT(rest.size(), before) << "no progress";
        if (command.found) names.push_back(command.name);
      }
      EXPECT_EQ(rest, "");
      EXPECT_EQ(Bracketed(names), c[3]);
    } else if (c[0] == "check") {
      auto error = CheckDefinition(definition);
      EXPECT_EQ(error ? error->ToString() : "", c[3]);
    } else {
      ASSERT_EQ(c[0], "split");
      EXPECT_EQ(Bracketed(reader.SplitList(definition, c[2])), c[3]);
    }
  }
}

TEST(DefinitionReaderTest, NextCommandGivesValueAndOptionsOfEachCommand) {
  TextDefinitionReader reader;
  std::string rest = "CSize /Fld=size; ObjID /Fld=object /Fld=obj2;";
  EXPECT_EQ(Shown(reader.GetNextCommand(rest)), "CSize||/Fld=size|");
  EXPECT_EQ(rest, " ObjID /Fld=object /Fld=obj2;");
  host::Command c = reader.GetNextCommand(rest);
  EXPECT_EQ(Shown(c), "ObjID||/Fld=object|/Fld=obj2|");
  EXPECT_EQ(c.LastOption("fld"), "obj2");
  EXPECT_EQ(c.LastOption("Layer"), std::nullopt);
  EXPECT_EQ(rest, "");
}

}  // namespace
}  // namespace pramble::sqlhost
