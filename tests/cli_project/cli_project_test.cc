// pramble create, status and settings, and the command line's exit codes and
// messages. Every bad project description of tests/data/descriptions goes
// through the create command's handler and error guard in this process (exit
// 65, the message naming file, line or JSON path and field, nothing left
// behind); a few go through the real binary too. The command lines of
// tests/data/cli/commands.tsv run through the real binary.
#include <gtest/gtest.h>

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/guard.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/project.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kData = PRAMBLE_SOURCE_DIR "/tests/data/";
const std::string kExample = PRAMBLE_EXAMPLES_DIR "/double-observer/project.json";

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

class BadDescriptionTest : public ::testing::TestWithParam<json> {};

TEST_P(BadDescriptionTest, IsRefusedWithItsPlaceAndNothingIsLeft) {
  const json& c = GetParam();
  TempDir work;
  const std::string desc = work / "desc.json";
  if (c.contains("patch")) WriteFile(desc, ExampleDescription().patch(c["patch"]).dump(2));
  if (c.contains("text") && c["text"].is_string()) WriteFile(desc, c["text"]);
  const json files = c.value("files", json::object());
  for (const auto& [name, contents] : files.items()) {
    std::string text = contents;
    if (const json* many = c.contains("many") ? &c["many"] : nullptr; many && many->contains(name)) {
      std::string rows;
      for (int n = 1; n <= (*many)[name]["count"].get<int>(); ++n)
        rows += Fill((*many)[name]["row"].get<std::string>(), {{"{n}", std::to_string(n)}});
      text.insert(text.find('\n') + 1, rows);
    }
    WriteFile(work / name, text);
  }
  const std::vector<std::string> before = FilesIn(work.path());

  std::ostringstream err;
  std::streambuf* const cerr = std::cerr.rdbuf(err.rdbuf());
  const int code =
      cli::Guarded("create", [&] { return cli::Create({work / "project", desc}); });
  std::cerr.rdbuf(cerr);
  const std::string said = err.str();
  EXPECT_EQ(code, 65) << said;
  std::string message = "pramble create: " + work.path() + "/" +
                        Fill(c["message"].get<std::string>(), {{"{dir}", work.path()}});
  if (message.ends_with("...")) {
    message.resize(message.size() - 3);
    EXPECT_TRUE(said.starts_with(message)) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  } else {
    EXPECT_EQ(said, message + "\n");
  }
  EXPECT_EQ(FilesIn(work.path()), before);

  if (c.value("cli", false)) {  // the same end to end
    const Outcome o = RunPramble({"create", work / "project", "--from", desc});
    EXPECT_EQ(o.code, 65);
    EXPECT_EQ(o.err, said);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(FilesIn(work.path()), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Checks, BadDescriptionTest,
                         ::testing::ValuesIn(json::parse(ReadFile(kData + "descriptions/cases.json"))
                                                 .get<std::vector<json>>()),
                         [](const auto& info) { return std::string(info.param["name"]); });

// A fresh example project (DIR) and the folders the command lines name.
class ExampleCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlhost::CreateProject(dir_, kExample);
    fs::create_directory(work_ / "empty");
    fs::create_directory(work_ / "bad");
    WriteFile(work_ / "bad/project.db", "this is not a database");
  }
  // `text` with the placeholders of commands.tsv filled in and "\n" and "\t" unescaped.
  std::string Fill(const std::string& text) const {
    return pramble::testing::Fill(text, {{"\\n", "\n"}, {"\\t", "\t"}, {"EXAMPLE", kExample},
                                         {"NEW", work_ / "new"}, {"EMPTY", work_ / "empty"},
                                         {"BADDB", work_ / "bad"}, {"DATA", kData + "cli"},
                                         {"DIR", dir_}});
  }

  TempDir work_;
  const std::string dir_ = work_ / "survey project";
};

// Each row of commands.tsv in order: the arguments, the exit code, and what
// standard error and output show (exact when it ends with a line end, else
// a part; "-" for standard output: nothing).
TEST_F(ExampleCliTest, CommandLinesExitCodesAndMessages) {
  for (const auto& cells : ReadTable("cli/commands.tsv")) {
    SCOPED_TRACE(cells[0]);
    ASSERT_EQ(cells.size(), 4u);
    std::vector<std::string> args;
    std::istringstream words(cells[0]);
    for (std::string w; words >> std::quoted(w);) args.push_back(Fill(w));
    const Outcome o = RunPramble(args);
    EXPECT_EQ(o.code, std::stoi(cells[1])) << o.err;
    for (const auto& [seen, wanted] : {std::pair{o.err, Fill(cells[2])}, {o.out, Fill(cells[3])}}) {
      if (wanted == "-") EXPECT_EQ(seen, "");
      else if (wanted.ends_with("\n")) EXPECT_EQ(seen, wanted);
      else EXPECT_TRUE(Has(seen, wanted)) << seen;
    }
  }
}

TEST_F(ExampleCliTest, SettingsAreTypedAsTheyLook) {
  const std::tuple<const char*, host::Value, const char*> cases[] = {
      {"true", host::Value{true}, "True"},
      {"FALSE", host::Value{false}, "False"},
      {"9", host::Value{std::int64_t{9}}, "9"},
      {"-7", host::Value{std::int64_t{-7}}, "-7"},
      {"2.50", host::Value{2.5}, "2.5"},
      {"1e3", host::Value{1000.0}, "1000"},
      {"hello world", host::Value{std::string("hello world")}, "hello world"},
      {"12abc", host::Value{std::string("12abc")}, "12abc"}};
  for (const auto& [value, stored, shown] : cases) {
    ASSERT_EQ(RunPramble({"settings", dir_, "set", "General", "Key", value}).code, 0);
    EXPECT_EQ(sqlhost::Project::Open(dir_)->GetSettingValue("general", "key"), stored) << value;
    EXPECT_EQ(RunPramble({"settings", dir_, "get", "GENERAL", "key"}).out, shown + std::string("\n"));
  }
}

}  // namespace
}  // namespace pramble::testing
